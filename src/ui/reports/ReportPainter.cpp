#include "ui/reports/ReportPainter.h"

#include <QFontDatabase>
#include <QPaintDevice>
#include <QPainter>

namespace tulmo {

ReportPainter::ReportPainter(const ReportLayout &layout, ReportPageInfo info)
    : m_layout(layout)
    , m_info(std::move(info))
    , m_font(reportFont()) {}

QFont ReportPainter::reportFont() {
    const QStringList families = QFontDatabase::families();
    QString family = QStringLiteral("Verdana");
    if (!families.contains(family)) {
        // DejaVu Sans has Verdana's wide build; it comes with the console's fonts.
        family = families.contains(QStringLiteral("DejaVu Sans")) ? QStringLiteral("DejaVu Sans")
                                                                  : QFont().defaultFamily();
    }
    QFont f(family);
    f.setPointSizeF(ReportLayout::kFontPoints);
    return f;
}

void ReportPainter::paintPage(QPainter &p, int page, qint64 totalRows,
                              const QList<ReportRow> &rows) const {
    p.save();
    // The device resolves the font's points; positions are given in millimetres.
    QFont f = m_font;
    p.setFont(QFont(f, p.device()));
    p.setPen(Qt::black);
    ReportPageInfo info = m_info;
    info.page = page;
    info.pageCount = m_layout.pageCount(totalRows);
    paintBand(p, m_layout.header, m_layout.headerTop(), nullptr, info);
    for (int i = 0; i < rows.size(); ++i)
        paintBand(p, m_layout.detail, m_layout.detailTop(i), &rows.at(i), info);
    int before = 0;
    if (m_layout.summaryOnPage(page, totalRows, &before))
        paintBand(p, m_layout.summary, m_layout.detailTop(before), nullptr, info);
    paintBand(p, m_layout.footer, m_layout.footerTop(), nullptr, info);
    p.restore();
}

void ReportPainter::paintBand(QPainter &p, const ReportBand &band, double top,
                              const ReportRow *row, const ReportPageInfo &page) const {
    const double dpmX = p.device()->logicalDpiX() / 25.4;
    const double dpmY = p.device()->logicalDpiY() / 25.4;
    const double lineHeight = QFontMetricsF(p.font()).height();
    for (const ReportItem &item : band.items) {
        const QString text = ReportLayout::itemText(item, row, page);
        if (text.isEmpty()) continue;
        const double x = (ReportLayout::kLeftMargin + item.left) * dpmX;
        const double y = (top + item.top) * dpmY;
        QRectF r;
        int flags = Qt::AlignTop | Qt::TextSingleLine;
        if (item.width > 0) { // cut at the box's edge
            r = QRectF(x, y, item.width * dpmX, lineHeight);
        } else { // automatic: as wide as the text, from the item's position
            const double wide = ReportLayout::kPageWidth * dpmX;
            r = item.align == ReportItem::Align::Left ? QRectF(x, y, wide, lineHeight)
                : item.align == ReportItem::Align::Right
                    ? QRectF(x - wide, y, wide, lineHeight)
                    : QRectF(x - wide / 2, y, wide, lineHeight);
            flags |= Qt::TextDontClip;
        }
        flags |= item.align == ReportItem::Align::Left    ? Qt::AlignLeft
                 : item.align == ReportItem::Align::Right ? Qt::AlignRight
                                                          : Qt::AlignHCenter;
        p.drawText(r, flags, text);
    }
}

} // namespace tulmo
