#pragma once

#include "core/reports/ReportLayout.h"
#include "core/reports/ReportQuery.h"

#include <QSqlDatabase>
#include <QStringList>

#include <atomic>

namespace tulmo {

// A report rendered as plain text: each page is a grid of lines whose height is the report's
// 8 pt base font in millimetres; a text printed at (x, y) mm lands on line y / h at character
// x * 1.7 / h (counted from 1), rounded. Fixed widths cut the text to as many characters as
// they span; centred texts are centred on their box's middle; right-aligned ones end at their
// position. Each page's non-empty lines follow one another, ended by CR LF.
class ReportTextPage {
public:
    static constexpr double kLineHeight = 8 * 0.35278; // mm
    static int line(double yMm);
    static int column(double xMm); // 1-based

    ReportTextPage();
    // item at the top of its band, band at top mm from the top of the page.
    void put(const ReportItem &item, double bandTop, const QString &text);
    // The page's non-empty lines, each ended by CR LF, in UTF-8.
    QByteArray bytes() const;

private:
    QStringList m_lines;
};

// Writes the report of the statement in the layout to path, replacing the file only once it
// is whole. Reads the events through one forward cursor, a page of text at a time, so the
// size of the report does not matter; the count that numbers the pages and the events come
// from one snapshot of the database, so a page never says "Página 3 de 2". info gives the
// title, the station's name and the printing time (its page numbers are the export's own).
// cancel, when set, stops it with the file untouched.
bool ExportReportText(QSqlDatabase db, const ReportStatement &st, const ReportLayout &layout,
                      const ReportPageInfo &info, const QString &path, QString *error,
                      const std::atomic_bool *cancel = nullptr);

} // namespace tulmo
