#include "EventColorDelegate.h"

#include "events/EventTypes.h"

#include <QPainter>
#include <QPalette>

namespace tulmo {

EventColorDelegate::EventColorDelegate(int colunaTipo, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_colunaTipo(colunaTipo) {}

CellColors EventColorDelegate::cores(const QString &tipo, bool selecionado,
                                     const QPalette &paleta) {
    if (selecionado)
        return {paleta.color(QPalette::Highlight), paleta.color(QPalette::HighlightedText)};
    const EventTypes::Colors t = EventTypes::gridColors(tipo);
    return {t.background ? QColor(QRgb(*t.background)) : paleta.color(QPalette::Base),
            t.text ? QColor(QRgb(*t.text)) : paleta.color(QPalette::WindowText)};
}

void EventColorDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString tipo = index.siblingAtColumn(m_colunaTipo).data().toString();
    const CellColors c = cores(tipo, opt.state & QStyle::State_Selected, opt.palette);
    painter->fillRect(opt.rect, c.fundo);
    // The text in the grid's usual way, over the colour just painted.
    opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    opt.backgroundBrush = c.fundo;
    opt.palette.setColor(QPalette::Text, c.fonte);
    opt.palette.setColor(QPalette::WindowText, c.fonte);
    QStyledItemDelegate::paint(painter, opt, index);
}

} // namespace tulmo
