#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

namespace tulmo {
struct DatabaseLocation;
}

namespace tulmo::schema {

// True when table has column (case of column ignored); false for a missing table.
bool Existe_Campo(QSqlDatabase db, const QString &table, const QString &field);

// Creates an empty database, through the embedded engine or on a server: character set
// WIN1252, forced writes on. Fails on a database that exists.
bool createDatabaseFile(const DatabaseLocation &where, QString *error);

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
// What a station of several workstations shares: RECEPCAO_ATIVA (the one row of the
// reception lease), FILA_EVENTOS (event lines acknowledged and not yet recorded, by queue and
// number), FILA_ADIANTADAS (lines a batch recorded ahead of their queue's head), the operator who treated an event (EVENTOS.OPERADOR_TRATOU), and the database
// events the consoles refresh on ("TULMO_EVENTOS", "TULMO_RECEPCAO", "TULMO_RECEPTORAS").
// Every step tolerates another process doing the same at the same time.
void ensureStation(QSqlDatabase db);
// Whether every object of the upgrade is there (a start that raced another one runs the
// upgrade again until it is).
bool upgradeComplete(QSqlDatabase db);
// How many columns, triggers and indexes the database has: a number that moves while a
// process changes the schema.
qint64 schemaSize(QSqlDatabase db);
// DC09_KEYS, the AES key of each account reporting encrypted over DC-09.
void ensureDc09Keys(QSqlDatabase db);

// The moment an account falls silent: ULTIMO_EVENTO + TEMPO_ATRASO minutes (an empty
// TEMPO_ATRASO is 0 minutes, an empty ULTIMO_EVENTO long past). Accounts already marked,
// with a null EVENTO_ATRASADO or without an account number have none (null): they never
// count as silent, and stay out of the index's range. The expression is indexed
// (IDX_CLIENTES_SILENCE_DEADLINE); a query uses that index only when it writes this text
// exactly.
inline constexpr const char *kSilenceDeadline =
    "(CASE WHEN EVENTO_ATRASADO = 0 AND CONTA <> '' THEN DATEADD(MINUTE, "
    "COALESCE(TEMPO_ATRASO, 0), COALESCE(ULTIMO_EVENTO, TIMESTAMP '1900-01-01 00:00:00')) END)";

} // namespace tulmo::schema
