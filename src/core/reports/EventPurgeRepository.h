#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <optional>

namespace tulmo {

// The choices of the purge window: which stored events go.
struct PurgeFilter {
    QDate dataInicial, dataFinal; // both at 00:00: events later on the last day stay
    QString conta = QStringLiteral("Todas");
    QString tipo = QStringLiteral("Todos");
    bool todasParticoes = true;
    int particao = 0;
    // Set once the chosen events were counted: the purge takes no event recorded after the
    // count, so an untreated event that came meanwhile never goes without the operator's say.
    QVariant upToSequencia;
};

// What a purge would take, counted before it runs.
struct PurgeSurvey {
    int total = 0;
    int pending = 0;        // TRATADO = 0, never treated by an operator
    QVariant lastSequencia; // the newest of them, null when there is none
};

// The statements of the event purge.
namespace EventPurgeRepository {

inline const QString kTodas = QStringLiteral("Todas"); // every account
inline const QString kTodos = QStringLiteral("Todos"); // every kind

// The deletion, line by line, and its parameters in the order they appear in it.
QStringList statementLines(const PurgeFilter &f);
QVariantList parameters(const PurgeFilter &f);

// Counts the events the choices take, in one read of them. Nothing with the reason in
// errorText when the count cannot be read.
std::optional<PurgeSurvey> survey(QSqlDatabase db, const PurgeFilter &f, QString *errorText);
// The operator's question before untreated events go; empty when none would.
QString pendingQuestion(const PurgeSurvey &s);

// Deletes the chosen events in one transaction of db: all of them or, on any error, none.
// Returns how many went, or -1 with the database's reason in errorText.
int purge(QSqlDatabase db, const PurgeFilter &f, QString *errorText);

// The account list of the window: CONTA of every account, in the order the database gives.
QStringList accounts(QSqlDatabase db, QString *errorText = nullptr);

} // namespace EventPurgeRepository

} // namespace tulmo
