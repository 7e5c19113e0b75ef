#include "core/reports/ReportQuery.h"

#include <QDateTime>

namespace tulmo {

namespace {

const QString kSelect = QStringLiteral("Select * from EVENTOS");

QString orderLine(bool descending) {
    return descending ? QStringLiteral("Order By DATA Desc") : QStringLiteral("Order By DATA Asc");
}

// Conditions are joined in order, the first with "where ", each later one with "and ".
void joiner(QStringList &lines) {
    lines << (lines.size() == 1 ? QStringLiteral("where ") : QStringLiteral("and "));
}

QDateTime startOf(const QDate &d) {
    return QDateTime(d, QTime(0, 0));
}

} // namespace

ReportStatement BuildReportQuery(const ReportSelection &s) {
    ReportStatement st;
    st.descending = s.descending;
    st.lines << kSelect;
    if (s.conta != QLatin1String("Todas")) {
        st.lines << QStringLiteral("where CONTA =:conta");
        st.params.insert(QStringLiteral(":conta"), s.conta);
    }
    if (s.tipo != QLatin1String("Todos")) {
        joiner(st.lines);
        st.lines << QStringLiteral("TIPO = :tipo");
        st.params.insert(QStringLiteral(":tipo"), s.tipo);
    }
    if (!s.allDays) {
        joiner(st.lines);
        // Whole days: from the first day at 00:00:00 to the day after the last, excluded.
        st.lines << QStringLiteral("( (DATA >= :data_inicial) And (DATA < :data_final) ) ");
        st.params.insert(QStringLiteral(":data_inicial"), startOf(s.inicial));
        st.params.insert(QStringLiteral(":data_final"), startOf(s.final.addDays(1)));
        st.lowerBound = QStringLiteral(":data_inicial");
        st.upperBound = QStringLiteral(":data_final");
    }
    st.lines << orderLine(s.descending);
    return st;
}

ReportStatement buildMailReportQuery(const ReportSelection &s, const QString &conta) {
    ReportStatement st;
    st.descending = s.descending;
    st.lines << kSelect << QStringLiteral("Where CONTA = :conta");
    st.params.insert(QStringLiteral(":conta"), conta);
    if (s.tipo != QLatin1String("Todos")) {
        st.lines << QStringLiteral("and ") << QStringLiteral("TIPO =:tipo");
        st.params.insert(QStringLiteral(":tipo"), s.tipo);
    }
    if (!s.allDays) {
        // The same whole days as the printed report: the first day's 00:00:00 is in.
        st.lines << QStringLiteral("and ")
                 << QStringLiteral("(DATA>=:data_inicial and DATA<:data_final)");
        st.params.insert(QStringLiteral(":data_inicial"), startOf(s.inicial));
        st.params.insert(QStringLiteral(":data_final"), startOf(s.final.addDays(1)));
    }
    st.lines << orderLine(s.descending);
    return st;
}

ReportStatement ReportStatement::page(const QVariant &afterData, const QVariant &afterSequencia,
                                      int rows, bool keysOnly) const {
    ReportStatement p = *this;
    p.lines.removeLast();
    if (keysOnly) p.lines[0] = QStringLiteral("Select DATA, SEQUENCIA from EVENTOS");
    if (afterData.isValid()) {
        // The key bounds the index walk: through the range's own limit when there is one (a
        // second bound on DATA would make the database gather the whole range first), else by
        // a bound of its own. SEQUENCIA orders the events of one instant, and is kept off its
        // index ("+0"), which would gather every event number below the key.
        const QString bound = descending ? upperBound : lowerBound;
        const QDateTime key = afterData.toDateTime();
        p.lines << (hasConditions() ? QStringLiteral("and ") : QStringLiteral("where "));
        if (!bound.isEmpty()) {
            const QDateTime limit = p.params.value(bound).toDateTime();
            // The range's end is excluded: the page's instant itself stays in through the
            // next millisecond (the events' times are whole milliseconds).
            p.params.insert(bound, descending ? qMin(limit, key.addMSecs(1)) : qMax(limit, key));
            p.lines << (descending ? QStringLiteral("(DATA < :chave_data or SEQUENCIA+0 < "
                                                    ":chave_sequencia)")
                                   : QStringLiteral("(DATA > :chave_data or SEQUENCIA+0 > "
                                                    ":chave_sequencia)"));
        } else {
            p.lines << (descending
                            ? QStringLiteral("(DATA <= :chave_limite and (DATA < :chave_data "
                                             "or SEQUENCIA+0 < :chave_sequencia))")
                            : QStringLiteral("(DATA >= :chave_limite and (DATA > :chave_data "
                                             "or SEQUENCIA+0 > :chave_sequencia))"));
            p.params.insert(QStringLiteral(":chave_limite"), afterData);
        }
        p.params.insert(QStringLiteral(":chave_data"), afterData);
        p.params.insert(QStringLiteral(":chave_sequencia"), afterSequencia);
    }
    p.lines << (descending ? QStringLiteral("Order By DATA Desc, SEQUENCIA Desc")
                           : QStringLiteral("Order By DATA Asc, SEQUENCIA Asc"));
    p.lines << QStringLiteral("rows %1").arg(qMax(1, rows));
    return p;
}

ReportStatement ReportStatement::count() const {
    ReportStatement c = *this;
    c.lines.removeLast();
    c.lines[0] = QStringLiteral("Select count(*) from EVENTOS");
    return c;
}

} // namespace tulmo
