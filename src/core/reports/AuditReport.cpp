#include "core/reports/AuditReport.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace tulmo {

namespace {
QString day(const QDate &d) { return d.toString(QStringLiteral("dd/MM/yyyy")); }
QString moment(const QDateTime &t) { return t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")); }

QString filterText(const AuditFilter &f) {
    QString text = QStringLiteral("%1 a %2").arg(day(f.from), day(f.to));
    if (!f.operador.isEmpty()) text += QStringLiteral(", operador ") + f.operador;
    if (!f.conta.isEmpty()) text += QStringLiteral(", conta ") + f.conta;
    if (!f.acao.isEmpty()) text += QStringLiteral(", ação ") + f.acao;
    return text;
}
} // namespace

QString csvField(QString s) {
    if (s.contains(QLatin1Char(';')) || s.contains(QLatin1Char('"')) ||
        s.contains(QLatin1Char('\n')))
        s = QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
            QLatin1Char('"');
    return s;
}

std::optional<AuditReport> AuditReport::read(QSqlDatabase db, const AuditFilter &f, QString *error,
                                             int maxRows) {
    QString sql = QStringLiteral("select first %1 ID, QUANDO, OPERADOR, ESTACAO, ACAO, CONTA, "
                                 "DESCRICAO, ANTES, DEPOIS from AUDITORIA where QUANDO >= :de and "
                                 "QUANDO < :ate")
                      .arg(maxRows + 1);
    if (!f.operador.isEmpty()) sql += QStringLiteral(" and OPERADOR = :o");
    if (!f.conta.isEmpty()) sql += QStringLiteral(" and CONTA = :c");
    if (!f.acao.isEmpty()) sql += QStringLiteral(" and ACAO = :a");
    sql += QStringLiteral(" order by QUANDO desc, ID desc");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    q.bindValue(QStringLiteral(":de"), f.from.startOfDay());
    q.bindValue(QStringLiteral(":ate"), f.to.addDays(1).startOfDay());
    if (!f.operador.isEmpty()) q.bindValue(QStringLiteral(":o"), f.operador);
    if (!f.conta.isEmpty()) q.bindValue(QStringLiteral(":c"), f.conta);
    if (!f.acao.isEmpty()) q.bindValue(QStringLiteral(":a"), f.acao);
    if (!ok || !q.exec()) {
        if (error)
            *error = QStringLiteral("Não foi possível ler a auditoria: %1")
                         .arg(q.lastError().text().simplified());
        return std::nullopt;
    }
    AuditReport r;
    while (q.next()) {
        if (r.rows.size() == maxRows) {
            r.more = true;
            break;
        }
        AuditRow row;
        row.id = q.value(0).toLongLong();
        row.quando = q.value(1).toDateTime();
        row.operador = q.value(2).toString().trimmed();
        row.estacao = q.value(3).toString().trimmed();
        row.acao = q.value(4).toString().trimmed();
        row.conta = q.value(5).toString().trimmed();
        row.descricao = q.value(6).toString();
        row.antes = q.value(7).toString();
        row.depois = q.value(8).toString();
        r.rows.append(row);
    }
    return r;
}

QStringList AuditReport::operators(QSqlDatabase db) {
    QStringList names;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("select distinct OPERADOR from AUDITORIA where OPERADOR is not "
                              "null order by 1")))
        while (q.next())
            names << q.value(0).toString().trimmed();
    return names;
}

QString AuditReport::csv(const AuditFilter &f) const {
    QString out = QStringLiteral("Auditoria;%1\r\n").arg(csvField(filterText(f)));
    out += QStringLiteral("Data e hora;Operador;Estação;Ação;Conta;Descrição;Antes;Depois\r\n");
    for (const AuditRow &r : rows)
        out += QStringList{moment(r.quando), csvField(r.operador), csvField(r.estacao),
                           csvField(r.acao),   csvField(r.conta),    csvField(r.descricao),
                           csvField(r.antes),  csvField(r.depois)}
                   .join(QLatin1Char(';')) +
               QStringLiteral("\r\n");
    return out;
}

QString AuditReport::html(const AuditFilter &f, const QString &company) const {
    QString out = QStringLiteral("<html><body style=\"font-family: sans-serif; font-size: 9pt\">");
    if (!company.isEmpty()) out += QStringLiteral("<p>%1</p>").arg(company.toHtmlEscaped());
    out += QStringLiteral("<h2>Auditoria</h2><p>%1</p>").arg(filterText(f).toHtmlEscaped());
    out += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr><th>Data e "
                          "hora</th><th>Operador</th><th>Estação</th><th>Ação</th><th>Conta</th>"
                          "<th>Descrição</th><th>Antes</th><th>Depois</th></tr>");
    for (const AuditRow &r : rows) {
        out += QStringLiteral("<tr>");
        for (const QString &cell : {moment(r.quando), r.operador, r.estacao, r.acao, r.conta,
                                    r.descricao, r.antes, r.depois})
            out += QStringLiteral("<td>%1</td>").arg(cell.toHtmlEscaped());
        out += QStringLiteral("</tr>");
    }
    out += QStringLiteral("</table>");
    if (more)
        out += QStringLiteral("<p>Mostrados os %1 registros mais recentes; restrinja o período "
                              "para ver os demais.</p>")
                   .arg(rows.size());
    return out + QStringLiteral("</body></html>");
}

} // namespace tulmo
