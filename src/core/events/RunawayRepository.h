#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace tulmo::RunawayRepository {

// An account of CONTAS_DISPARADAS, with its client's name when it is registered.
struct Row {
    QString conta, cliente;
    QDateTime desde, ultimo;
    int sinais = 0; // events recorded without being raised since it was flagged
};

// By account; ok (when given) false when the database did not answer.
QList<Row> list(QSqlDatabase db, bool *ok = nullptr);
// The flagged accounts and their last event.
QHash<QString, QDateTime> flagged(QSqlDatabase db, bool *ok = nullptr);
// An operator clears the flag, or the account fell quiet: false with error when the database
// did not take it.
bool remove(QSqlDatabase db, const QString &conta, QString *error = nullptr);

} // namespace tulmo::RunawayRepository
