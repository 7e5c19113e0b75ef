#pragma once

#include <QList>
#include <QStringList>

#include <initializer_list>
#include <utility>

class QBoxLayout;
class QDate;
class QDateEdit;
class QPushButton;
class QTableWidget;
class QWidget;

namespace tulmo {

// The pieces the list and summary windows share.

// A list the operator reads and picks a row from, never edits: whole rows, one at a time, no
// row numbers; the columns as wide as their texts, stretch the one that fills the rest.
QTableWidget *readOnlyGrid(const char *name, const QStringList &headers, int stretch,
                           QWidget *parent);
// The buttons at the bottom right of a window, in the order given (object name, caption).
QList<QPushButton *> buttonRow(QBoxLayout *layout, QWidget *parent,
                               std::initializer_list<std::pair<const char *, QString>> buttons);
// A date of a period, typed or picked on a calendar, as the station writes dates.
QDateEdit *dateField(const char *name, const QDate &date, QWidget *parent);

} // namespace tulmo
