#pragma once

#include <QColor>
#include <QStyledItemDelegate>

class QPalette;

namespace tulmo {

// The colours of a cell of Grade_Eventos.
struct CellColors {
    QColor background;
    QColor foreground;
};

// Paints every cell of the received-events grid after the event type of its row: the type's
// background (and for the dark ones white text), white for an empty type, the grid's base
// colour for a type it does not know, and the highlight colours for a selected row.
class EventColorDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // colunaTipo: the model column holding TIPO.
    explicit EventColorDelegate(int typeColumn, QObject *parent = nullptr);

    static CellColors colors(const QString &tipo, bool selected, const QPalette &pal);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    int m_typeColumn;
};

} // namespace tulmo
