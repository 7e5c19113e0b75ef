#pragma once

#include "core/registry/WeeklySchedule.h"

#include <QTableView>

namespace tulmo {

class ScheduleModel;

// SGrid_Horarios: the weekly schedule as the operator marks it. 25 columns by 8 rows of
// 27 x 27 px cells (the first column 54 px), no scroll bars. Row 0 and column 0 are the fixed
// titles ("Dia / Hora", "Domingo" … "Sabado", "00" … "23"); row r, column c is the flag of day
// r - 1 (Sunday first), hour c - 1. The operator selects a rectangle with the mouse and marks
// or unmarks it; a marked cell is red, an unmarked one white, a selected one in the highlight
// colour.
class ScheduleGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int kRows = 8;
    static constexpr int kColumns = 25;
    static constexpr int kCell = 27;
    static constexpr int kFirstColumn = 54;
    // The flag of a cell, for Qt::UserRole.
    static constexpr int kMarkedRole = Qt::UserRole + 1;

    explicit ScheduleGrid(QWidget *parent = nullptr);

    void setSchedule(const WeeklySchedule &schedule);
    const WeeklySchedule &schedule() const;
    // Every selected cell marked (or unmarked), then repainted.
    void markSelection(bool marked);
    // Selects the cells from (row1, column1) to (row2, column2), as a mouse drag does.
    void selectCells(int row1, int column1, int row2, int column2);
    // The text of a title cell; empty for a flag cell.
    QString cellText(int row, int column) const;
    // The rectangle of a cell in the viewport.
    QRect cellRect(int row, int column) const;

private:
    ScheduleModel *m_model;
};

} // namespace tulmo
