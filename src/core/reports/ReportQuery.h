#pragma once

#include <QDate>
#include <QStringList>
#include <QVariantMap>

namespace tulmo {

// What the operator chose in the report selection window.
struct ReportSelection {
    QString conta = QStringLiteral("Todas"); // "Todas": every account
    QString tipo = QStringLiteral("Todos");  // "Todos": every kind; typed text is a kind too
    bool allDays = true;                     // "Todos os Dias"
    QDate inicial, final;                    // both days included
    bool descending = true;                  // "Decrescente"
    bool complete = false;                   // "Relatório Completo"
};

// A statement over EVENTOS as the console has always written it, one line per item, with its
// parameters. The operator's texts are only ever parameters.
struct ReportStatement {
    QStringList lines; // the select, the condition lines, the order line last
    QVariantMap params;
    bool descending = true;
    // The parameters of a date range, when the statement has one (the start included, the end
    // excluded): a page's key narrows the range itself, so the database walks its index from
    // there.
    QString upperBound, lowerBound;

    QString text() const { return lines.join(QLatin1Char('\n')); }
    // The statement of one page after the event (data, sequencia), or from the first event
    // when no key is given: the same conditions, then the page's bound on (DATA, SEQUENCIA),
    // so the database walks its DATA index and stops after rows events.
    ReportStatement page(const QVariant &afterData, const QVariant &afterSequencia, int rows,
                         bool keysOnly = false) const;
    // select count(*) with the same conditions.
    ReportStatement count() const;

private:
    bool hasConditions() const { return lines.size() > 2; }
};

// The statement of "Imprimir". Both reports take whole days: from the start date at 00:00:00,
// included, to the day after the end date at 00:00:00, excluded, so neither leaves out an
// event of the first day's first second nor takes in one of the day after.
ReportStatement BuildReportQuery(const ReportSelection &s);
// The statement of one account's mailed report, over the same days.
ReportStatement buildMailReportQuery(const ReportSelection &s, const QString &conta);

} // namespace tulmo
