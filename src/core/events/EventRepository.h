#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace tulmo {

// The statements of the forms over EVENTOS: the two live lists and the operator's
// intervention, which is what turns a pending event into a treated one.
namespace EventRepository {

// Widths of EVENTOS.DETALHES and EVENTOS.INTERVENCAO: longer texts are cut, not refused.
inline constexpr int kDetailsWidth = 40;
inline constexpr int kInterventionWidth = 20;

// The main window's "Eventos Recebidos": the treated events, newest first.
QString receivedListSql();
// How many of them the list reads. It is read again on every treated event, and EVENTOS keeps
// every event ever recorded: the newest thousand cover hours of a busy night and still read in
// milliseconds; older events are for the reports.
inline constexpr int kReceivedListRows = 1000;
// The pending window's list: the events waiting for an operator, by priority, then the
// oldest first.
QString pendingListSql();
// The moment the pending window first showed these events (EXIBIDO), kept for the answer
// times; events shown before keep theirs. How many were marked, or -1 on failure.
int markShown(QSqlDatabase db, const QList<qint64> &sequences, const QDateTime &when);
// The lists over rows that can pile up (pending events after a night without operators,
// accounts silent for years) read at most this many, like the received events: a list that
// read them all would stall the window on every refresh. The count stays exact up to it.
inline constexpr int kListRows = 1000;

// Whether any event waits for an operator; false too when the statement fails.
bool hasPending(QSqlDatabase db);
// How many events wait for an intervention, counted up to kListRows + 1 (more than kListRows
// means "more than that"); 0 also when the count cannot be read.
int pendingCount(QSqlDatabase db);

// What became of an intervention.
enum class Intervention {
    Recorded,   // the event is treated
    NotPending, // no such event waits any more: deleted with its account or purged, or
                // treated meanwhile by another operator
    Failed,     // the statement failed; the database's text is in errorText
};

// Marks the event treated with the operator's description and kind of intervention (each cut
// to its column) at when, if it is still pending: an event is treated once.
Intervention finishIntervention(QSqlDatabase db, const QVariant &sequencia, const QString &detalhes,
                                const QString &intervencao, const QDateTime &when,
                                QString *errorText = nullptr);

// Who treated an event, and when.
struct TreatedBy {
    QString operador; // empty when unknown (treated before operators were kept, or deleted)
    QDateTime quando;
};
// The same, recording the operator. When the event is no longer pending, by tells who treated
// it, for the second operator's message (several consoles share the database).
Intervention finishIntervention(QSqlDatabase db, const QVariant &sequencia, const QString &detalhes,
                                const QString &intervencao, const QDateTime &when,
                                const QString &operador, TreatedBy *by,
                                QString *errorText = nullptr);

// An event waiting for an operator, as the headless reception service tells of it.
struct PendingEvent {
    qint64 sequencia = 0;
    QString conta, cliente, codigoAlarme, descricao, nomeParticao, argumento;
    int numeroParticao = 0;
    QDateTime data;
};
// The number the last event was given, read from the generator rather than from EVENTOS; -1
// when it cannot be read.
qint64 lastSequence(QSqlDatabase db);
// The pending events numbered after sequencia, in their order, at most max of them; ok false
// when the statement failed.
QList<PendingEvent> pendingAfter(QSqlDatabase db, qint64 sequencia, int max, bool *ok = nullptr);

} // namespace EventRepository

} // namespace tulmo
