#include "EventColorDelegate.h"

#include "core/events/EventTypes.h"

#include <QPainter>
#include <QPalette>

namespace tulmo {

EventColorDelegate::EventColorDelegate(int typeColumn, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_typeColumn(typeColumn) {}

CellColors EventColorDelegate::colors(const QString &tipo, bool selected,
                                     const QPalette &pal) {
    if (selected)
        return {pal.color(QPalette::Highlight), pal.color(QPalette::HighlightedText)};
    const EventTypes::Colors t = EventTypes::gridColors(tipo);
    return {t.background ? QColor(QRgb(*t.background)) : pal.color(QPalette::Base),
            t.text ? QColor(QRgb(*t.text)) : pal.color(QPalette::WindowText)};
}

void EventColorDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString tipo = index.siblingAtColumn(m_typeColumn).data().toString();
    const CellColors c = colors(tipo, opt.state & QStyle::State_Selected, opt.palette);
    painter->fillRect(opt.rect, c.background);
    // The text in the grid's usual way, over the colour just painted.
    opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    opt.backgroundBrush = c.background;
    opt.palette.setColor(QPalette::Text, c.foreground);
    opt.palette.setColor(QPalette::WindowText, c.foreground);
    QStyledItemDelegate::paint(painter, opt, index);
}

} // namespace tulmo
