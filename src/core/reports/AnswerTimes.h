#pragma once

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace tulmo {

// How long the station's alarms waited for an operator: for the events treated by an
// operator in a period, the time from their arrival (DATA) to their treatment
// (DATA_INTERVENCAO), by operator and by event type. Events recorded as treated by the event
// code itself (no operator) are not answers and are left out.
struct AnswerTimeGroup {
    QString name;     // the operator's name, or the event type
    int count = 0;    // treatments
    qint64 p50Ms = 0; // median, by the nearest rank
    qint64 p90Ms = 0;
    qint64 maxMs = 0;
};

struct AnswerTimes {
    QList<AnswerTimeGroup> byOperator; // by name
    QList<AnswerTimeGroup> byType;     // by type
    AnswerTimeGroup overall;           // name "Total"

    // Events that arrived from the start of from to the end of to. nullopt, with error in
    // Portuguese, when the database did not answer.
    static std::optional<AnswerTimes> read(QSqlDatabase db, const QDate &from, const QDate &to,
                                           QString *error);
    // "0:42", "12:05", "1:02:07": hours only when there are any.
    static QString duration(qint64 ms);
    // The groups as CSV (";" separated, as the station's spreadsheets read it), one section per
    // grouping, with the period in the first line.
    QString csv(const QDate &from, const QDate &to) const;
    // The same as an HTML page for printing.
    QString html(const QDate &from, const QDate &to, const QString &company) const;
};

} // namespace tulmo
