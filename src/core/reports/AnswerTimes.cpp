#include "core/reports/AnswerTimes.h"

#include "core/reports/AuditReport.h"

#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tulmo {

namespace {

// Nearest rank: the smallest value with at least p of the values at or below it.
qint64 rank(const std::vector<qint64> &sorted, double p) {
    const size_t n = sorted.size();
    size_t k = size_t(std::ceil(p * double(n)));
    k = std::clamp<size_t>(k, 1, n);
    return sorted[k - 1];
}

AnswerTimeGroup summarise(const QString &name, std::vector<qint64> &values) {
    AnswerTimeGroup g;
    g.name = name;
    g.count = int(values.size());
    if (values.empty()) return g;
    std::sort(values.begin(), values.end());
    g.p50Ms = rank(values, 0.5);
    g.p90Ms = rank(values, 0.9);
    g.maxMs = values.back();
    return g;
}

QList<AnswerTimeGroup> summariseAll(QMap<QString, std::vector<qint64>> &groups) {
    QList<AnswerTimeGroup> out;
    for (auto it = groups.begin(); it != groups.end(); ++it)
        out << summarise(it.key(), it.value());
    return out;
}

QString escapeHtml(const QString &s) { return s.toHtmlEscaped(); }

} // namespace

std::optional<AnswerTimes> AnswerTimes::read(QSqlDatabase db, const QDate &from, const QDate &to,
                                             QString *error) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // By the index on DATA; the difference in the engine, in milliseconds.
    const bool prepared = q.prepare(QStringLiteral(
        "select OPERADOR_TRATOU, TIPO, datediff(millisecond from DATA to DATA_INTERVENCAO) "
        "from EVENTOS where DATA >= :de and DATA < :ate and TRATADO = 1 and OPERADOR_TRATOU is "
        "not null and DATA_INTERVENCAO is not null"));
    if (prepared) {
        q.bindValue(QStringLiteral(":de"), QDateTime(from, QTime(0, 0)));
        q.bindValue(QStringLiteral(":ate"), QDateTime(to.addDays(1), QTime(0, 0)));
    }
    if (!prepared || !q.exec()) {
        if (error)
            *error = QStringLiteral("Não foi possível ler os tempos de atendimento: %1")
                         .arg(q.lastError().text());
        return std::nullopt;
    }
    QMap<QString, std::vector<qint64>> operators, types;
    std::vector<qint64> all;
    while (q.next()) {
        // A treatment stamped before the arrival (a workstation's clock behind the one that
        // received) counts as immediate, not as a negative time.
        const qint64 ms = std::max<qint64>(0, q.value(2).toLongLong());
        const QString tipo = q.value(1).toString().trimmed();
        operators[q.value(0).toString().trimmed()].push_back(ms);
        types[tipo.isEmpty() ? QStringLiteral("(sem tipo)") : tipo].push_back(ms);
        all.push_back(ms);
    }
    AnswerTimes t;
    t.byOperator = summariseAll(operators);
    t.byType = summariseAll(types);
    t.overall = summarise(QStringLiteral("Total"), all);
    return t;
}

QString AnswerTimes::duration(qint64 ms) {
    const qint64 s = (ms + 500) / 1000;
    const qint64 h = s / 3600, m = (s / 60) % 60, sec = s % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(sec, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0'));
}

QString AnswerTimes::csv(const QDate &from, const QDate &to) const {
    const auto field = csvField;
    QString out = QStringLiteral("Tempo de atendimento;%1 a %2\r\n")
                      .arg(from.toString(QStringLiteral("dd/MM/yyyy")),
                           to.toString(QStringLiteral("dd/MM/yyyy")));
    auto section = [&](const QString &title, const QList<AnswerTimeGroup> &groups) {
        out += QStringLiteral("\r\n%1;Atendidos;p50;p90;Máximo\r\n").arg(title);
        for (const AnswerTimeGroup &g : groups)
            out += QStringLiteral("%1;%2;%3;%4;%5\r\n")
                       .arg(field(g.name))
                       .arg(g.count)
                       .arg(duration(g.p50Ms), duration(g.p90Ms), duration(g.maxMs));
    };
    section(QStringLiteral("Operador"), byOperator);
    section(QStringLiteral("Tipo"), byType);
    section(QStringLiteral("Geral"), {overall});
    return out;
}

QString AnswerTimes::html(const QDate &from, const QDate &to, const QString &company) const {
    QString out = QStringLiteral("<html><body style=\"font-family: sans-serif\">");
    if (!company.isEmpty()) out += QStringLiteral("<p>%1</p>").arg(escapeHtml(company));
    out += QStringLiteral("<h2>Tempo de atendimento</h2><p>Eventos recebidos de %1 a %2, do "
                          "recebimento ao tratamento.</p>")
               .arg(from.toString(QStringLiteral("dd/MM/yyyy")),
                    to.toString(QStringLiteral("dd/MM/yyyy")));
    auto table = [&](const QString &title, const QList<AnswerTimeGroup> &groups) {
        out += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\"><tr><th>%1"
                              "</th><th>Atendidos</th><th>p50</th><th>p90</th><th>Máximo</th></tr>")
                   .arg(title);
        for (const AnswerTimeGroup &g : groups)
            out += QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td><td align=\"right\">"
                                  "%3</td><td align=\"right\">%4</td><td align=\"right\">%5</td>"
                                  "</tr>")
                       .arg(escapeHtml(g.name))
                       .arg(g.count)
                       .arg(duration(g.p50Ms), duration(g.p90Ms), duration(g.maxMs));
        out += QStringLiteral("</table><br>");
    };
    table(QStringLiteral("Operador"), byOperator);
    table(QStringLiteral("Tipo"), byType);
    table(QStringLiteral("Geral"), {overall});
    return out + QStringLiteral("</body></html>");
}

} // namespace tulmo
