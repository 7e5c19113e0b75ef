#include "ui/common/ListWindow.h"

#include <QBoxLayout>
#include <QDateEdit>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

namespace tulmo {

QTableWidget *readOnlyGrid(const char *name, const QStringList &headers, int stretch,
                           QWidget *parent) {
    auto *g = new QTableWidget(0, int(headers.size()), parent);
    g->setObjectName(QLatin1String(name));
    g->setHorizontalHeaderLabels(headers);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->verticalHeader()->hide();
    g->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (stretch >= 0) g->horizontalHeader()->setSectionResizeMode(stretch, QHeaderView::Stretch);
    g->setWordWrap(false);
    return g;
}

QList<QPushButton *> buttonRow(QBoxLayout *layout, QWidget *parent,
                               std::initializer_list<std::pair<const char *, QString>> buttons) {
    auto *row = new QHBoxLayout;
    row->addStretch();
    QList<QPushButton *> made;
    for (const auto &[name, caption] : buttons) {
        auto *b = new QPushButton(caption, parent);
        b->setObjectName(QLatin1String(name));
        row->addWidget(b);
        made << b;
    }
    layout->addLayout(row);
    return made;
}

QDateEdit *dateField(const char *name, const QDate &date, QWidget *parent) {
    auto *d = new QDateEdit(date, parent);
    d->setObjectName(QLatin1String(name));
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    return d;
}

} // namespace tulmo
