#include "ColumnWidths.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace tulmo {

namespace {
// Room for the cell's margins and the grid line on either side of the text.
constexpr int kPadding = 16;
} // namespace

void fitColumns(QTableView *grid, const QList<QString> &widest) {
    const QFontMetrics cells(grid->font());
    const QFontMetrics titles(grid->horizontalHeader()->font());
    const QAbstractItemModel *model = grid->model();
    for (int c = 0; c < model->columnCount() && c < widest.size(); ++c) {
        const int title = titles.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString());
        grid->setColumnWidth(c, std::max(title, cells.horizontalAdvance(widest[c])) + kPadding);
    }
}

QString capitals(int n) {
    // Names are kept in capitals. A mix of them without blanks is wider than a name or a
    // description of that length, blanks and all; n of the widest letter would make every
    // column too wide for its window.
    static const QString kMix = QStringLiteral("MARIAAPARECIDASANTOSOLIVEIRABORGESJUNQUEIRA");
    QString s;
    while (s.size() < n)
        s += kMix;
    return s.left(n);
}

QString digits(int n) {
    return QString(n, QLatin1Char('0'));
}

QString dateTimeSample() {
    return QStringLiteral("28/12/2000 23:59:59");
}

} // namespace tulmo
