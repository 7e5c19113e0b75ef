#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

namespace tulmo {

// What the audit window shows of AUDITORIA: the rows of a period, filtered by operator, account
// and action, newest first; printed or exported like the event reports.
struct AuditFilter {
    QDate from, to;   // whole days
    QString operador; // empty: every operator
    QString conta;    // empty: every account
    QString acao;     // empty: every action
};

struct AuditRow {
    qint64 id = 0;
    QDateTime quando;
    QString operador, estacao, acao, conta, descricao, antes, depois;
};

struct AuditReport {
    // The window reads at most this many rows; more says there were more.
    static constexpr int kMaxRows = 5000;

    QList<AuditRow> rows;
    bool more = false;

    // nullopt, with error in Portuguese, when the database did not answer.
    static std::optional<AuditReport> read(QSqlDatabase db, const AuditFilter &filter,
                                           QString *error, int maxRows = kMaxRows);
    // The names that appear in AUDITORIA, for the operator filter.
    static QStringList operators(QSqlDatabase db);

    QString csv(const AuditFilter &filter) const;
    QString html(const AuditFilter &filter, const QString &company) const;
};

// A field of a ";" separated line, quoted when it must be.
QString csvField(QString text);

} // namespace tulmo
