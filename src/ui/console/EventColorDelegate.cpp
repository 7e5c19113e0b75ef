#include "EventColorDelegate.h"

#include <QPainter>
#include <QPalette>

namespace tulmo {

EventColorDelegate::EventColorDelegate(int colunaTipo, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_colunaTipo(colunaTipo) {}

CellColors EventColorDelegate::cores(const QString &tipo, bool selecionado,
                                        const QPalette &paleta) {
    struct Cor {
        const char16_t *tipo;
        QRgb fundo;
        bool fonteBranca;
    };
    // Exact, case-sensitive names as the recording writes them; the first match wins.
    static const Cor tabela[] = {
        {u"ARMADO", 0x008080, true},      {u"DESARMADO", 0x00FF00, false},
        {u"ALARME", 0xFF0000, true},      {u"RESTAURAÇÃO", 0xFFFF00, false},
        {u"EMERGENCIA", 0xFF00FF, false}, {u"PANICO", 0xFF00FF, false},
        {u"PERIÓDICO", 0xD6D6D6, false},  {u"REGISTRO", 0xC0C0C0, false},
        {u"FALHAS", 0x800080, true},      {u"INTERNO", 0x00FFFF, false},
    };
    CellColors c{paleta.color(QPalette::Base), paleta.color(QPalette::WindowText)};
    if (tipo.isEmpty()) {
        c.fundo = QColor(0xFFFFFF);
    } else {
        for (const Cor &cor : tabela) {
            if (tipo == QStringView(cor.tipo)) {
                c.fundo = QColor(cor.fundo);
                if (cor.fonteBranca) c.fonte = Qt::white;
                break;
            }
        }
    }
    if (selecionado) {
        c.fundo = paleta.color(QPalette::Highlight);
        c.fonte = paleta.color(QPalette::HighlightedText);
    }
    return c;
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
