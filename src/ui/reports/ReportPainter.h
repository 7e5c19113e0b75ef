#pragma once

#include "core/reports/ReportLayout.h"

#include <QFont>

class QPainter;
class QPaintDevice;

namespace tulmo {

// Paints the pages of a report layout: every band and item at its millimetre position, in
// Verdana 10 pt or the nearest face installed. The device's origin is the paper's corner
// (a printer in full-page mode, or an A4 image).
class ReportPainter {
public:
    // info: the title, the station's name and the printing time of every page.
    ReportPainter(const ReportLayout &layout, ReportPageInfo info);

    // Page (0-based) of a report of totalRows events; rows are that page's events.
    void paintPage(QPainter &p, int page, qint64 totalRows, const QList<ReportRow> &rows) const;
    static QFont reportFont();

private:
    void paintBand(QPainter &p, const ReportBand &band, double top, const ReportRow *row,
                   const ReportPageInfo &page) const;

    const ReportLayout &m_layout;
    ReportPageInfo m_info;
    QFont m_font;
};

} // namespace tulmo
