#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

namespace tulmo::schema {

// True when table has column (case of column ignored); false for a missing table.
bool Existe_Campo(QSqlDatabase db, const QString &table, const QString &field);

// Creates an empty database file through the embedded engine: character set WIN1252,
// forced writes on.
bool createDatabaseFile(const QString &path, QString *error);

// The base tables of a new installation, in the layout of the first shipped database;
// the two upgrade steps then bring it to the current layout like any older file.
void createBaseTables(QSqlDatabase db);

// First upgrade step, run while the reception data module is created.
void upgradeDataModuleStep(QSqlDatabase primary, QSqlDatabase secondary);
// Second upgrade step, run while the main window is created; now stamps ULTIMO_EVENTO.
void upgradeMainWindowStep(QSqlDatabase primary, const QDateTime &now);
// Indexes of the hot queries, created where missing (also on older files).
void ensureIndexes(QSqlDatabase db);
// QUEUE_MARK, where the recording keeps the last event queue line it has taken.
void ensureQueueMark(QSqlDatabase db);

} // namespace tulmo::schema
