#pragma once

#include <QList>
#include <QString>

class QTableView;

namespace tulmo {

// Sizes the columns of a grid to what they can hold, measured once in the grid's own fonts:
// column c as wide as its title or as widest[c], whichever is wider (an empty text: the title
// alone). Measuring the rows themselves would cost a pass over every row at each reading, and
// a list read a page at a time would change its widths as it scrolls.
void fitColumns(QTableView *grid, const QList<QString> &widest);

// Sample texts of a column's width: n capital letters, n digits, and a date and time (the
// widest date written the widest way the console writes one).
QString capitals(int n);
QString digits(int n);
QString dateTimeSample();

} // namespace tulmo
