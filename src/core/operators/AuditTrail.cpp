#include "AuditTrail.h"

#include "core/common/Clock.h"
#include "core/store/TransactionGuard.h"

#include <QFile>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <optional>

namespace tulmo::audit {

namespace {

struct Actor {
    QMutex mutex;
    QString operador = QStringLiteral("admin");
    QString estacao;
    const Clock *clock = nullptr;
};
Actor &actor() {
    static Actor a;
    return a;
}

QVariant textOrNull(const QString &text, int width) {
    if (text.isEmpty()) return QVariant(QMetaType(QMetaType::QString));
    return text.left(width);
}

bool fail(const QString &text, QString *error) {
    if (error) *error = text;
    return false;
}

// The pairs of a snapshot, in their order.
QList<std::pair<QString, QString>> parse(const QString &text) {
    QList<std::pair<QString, QString>> out;
    for (const QString &part : text.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq > 0) out.append({part.left(eq), part.mid(eq + 1)});
    }
    return out;
}

QString join(const QList<std::pair<QString, QString>> &pairs) {
    QStringList l;
    for (const auto &[k, v] : pairs)
        l << k + QLatin1Char('=') + v;
    return l.join(QStringLiteral("; "));
}

QString valueText(const QVariant &v) {
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    if (v.metaType().id() == QMetaType::QDate)
        return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    if (v.metaType().id() == QMetaType::QTime)
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    // The separators of the text stay the text's own.
    return v.toString().trimmed().replace(QStringLiteral("; "), QStringLiteral(", "));
}

} // namespace

QStringList actions() {
    QStringList l;
    for (const char *a : {kShiftStart, kShiftEnd, kLoginRefused, kTreatment, kInsert, kUpdate,
                          kDelete, kSettings, kPurge, kImport, kModuleUpload, kModuleReset,
                          kSilence, kRunawayCleared, kTestStart, kTestEnd, kStorm})
        l << QString::fromUtf8(a);
    return l;
}

void setOperator(const QString &nome) {
    QMutexLocker l(&actor().mutex);
    actor().operador = nome;
}
QString currentOperator() {
    QMutexLocker l(&actor().mutex);
    return actor().operador;
}
void setStation(const QString &nome) {
    QMutexLocker l(&actor().mutex);
    actor().estacao = nome;
}
QString station() {
    QMutexLocker l(&actor().mutex);
    return actor().estacao;
}
void setClock(const Clock *clock) {
    QMutexLocker l(&actor().mutex);
    actor().clock = clock;
}
QDateTime now() {
    QMutexLocker l(&actor().mutex);
    return actor().clock ? actor().clock->now() : QDateTime::currentDateTime();
}

bool write(QSqlDatabase db, const Entry &e, QString *error) {
    QString operador, estacao;
    {
        QMutexLocker l(&actor().mutex);
        operador = actor().operador;
        estacao = actor().estacao;
    }
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral(
            "insert into AUDITORIA (ID, QUANDO, OPERADOR, ESTACAO, ACAO, CONTA, DESCRICAO, ANTES, "
            "DEPOIS) values (next value for GEN_AUDITORIA, :q, :o, :s, :a, :c, :d, :b, :f)")))
        return fail(q.lastError().text(), error);
    q.bindValue(QStringLiteral(":q"), now());
    q.bindValue(QStringLiteral(":o"), textOrNull(operador, 20));
    q.bindValue(QStringLiteral(":s"), textOrNull(estacao, 60));
    q.bindValue(QStringLiteral(":a"), e.acao.left(30));
    q.bindValue(QStringLiteral(":c"), textOrNull(e.conta.trimmed(), 6));
    q.bindValue(QStringLiteral(":d"), textOrNull(e.descricao, kDescriptionWidth));
    q.bindValue(QStringLiteral(":b"), textOrNull(e.antes, kValuesWidth));
    q.bindValue(QStringLiteral(":f"), textOrNull(e.depois, kValuesWidth));
    if (!q.exec()) return fail(q.lastError().text(), error);
    return true;
}

bool writeAlone(QSqlDatabase db, const Entry &e, QString *error) {
    TransactionGuard t(db);
    if (!t.begun()) return fail(db.lastError().text(), error);
    if (!write(db, e, error)) return false;
    return t.commit() || fail(db.lastError().text(), error);
}

namespace {

using Pairs = QList<std::pair<QString, QString>>;

// The columns with a value of the row the select finds, as they are.
Pairs rawSnapshot(QSqlDatabase db, const QString &select, const QVariantList &values) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(select)) return {};
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec() || !q.next()) return {};
    const QSqlRecord r = q.record();
    Pairs pairs;
    for (int i = 0; i < r.count(); ++i) {
        if (q.isNull(i)) continue;
        const QString v = valueText(q.value(i));
        if (!v.isEmpty()) pairs.append({r.fieldName(i).trimmed().toUpper(), v});
    }
    return pairs;
}

// A password is never written down: only that there is one, and that it changed.
Pairs masked(Pairs pairs, const char *mark) {
    for (auto &[k, v] : pairs)
        if (k.toUpper().contains(QLatin1String("SENHA"))) v = QString::fromUtf8(mark);
    return pairs;
}

std::optional<QString> valueIn(const Pairs &l, const QString &k) {
    for (const auto &[key, v] : l)
        if (key == k) return v;
    return std::nullopt;
}

std::pair<Pairs, Pairs> differing(const Pairs &b, const Pairs &a) {
    Pairs ob, oa;
    for (const auto &[k, v] : b)
        if (valueIn(a, k) != v) ob.append({k, v});
    for (const auto &[k, v] : a)
        if (valueIn(b, k) != v) oa.append({k, v});
    return {ob, oa};
}

} // namespace

QString snapshot(QSqlDatabase db, const QString &select, const QVariantList &values) {
    return join(masked(rawSnapshot(db, select, values), "***"));
}

std::pair<QString, QString> difference(const QString &before, const QString &after) {
    const auto [b, a] = differing(parse(before), parse(after));
    return {join(masked(b, "***")), join(masked(a, "*** (alterada)"))};
}

QString iniSnapshot(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    Pairs pairs;
    QString section;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        pairs.append({section + line.left(eq).trimmed(),
                      line.mid(eq + 1).trimmed().replace(QStringLiteral("; "), QStringLiteral(", "))});
    }
    return join(pairs);
}

QString fields(std::initializer_list<std::pair<const char *, QVariant>> values) {
    QList<std::pair<QString, QString>> pairs;
    for (const auto &[k, v] : values) {
        const QString text = valueText(v);
        if (!text.isEmpty()) pairs.append({QString::fromUtf8(k), text});
    }
    return join(pairs);
}

bool change(QSqlDatabase db, Entry e, const QString &select, const QVariantList &values,
            const std::function<bool()> &doIt, QString *error, const QVariantList *afterValues) {
    TransactionGuard t(db);
    if (!t.begun()) return fail(db.lastError().text(), error);
    const Pairs before = select.isEmpty() ? Pairs() : rawSnapshot(db, select, values);
    if (!doIt()) return false;
    const Pairs after =
        select.isEmpty() ? Pairs() : rawSnapshot(db, select, afterValues ? *afterValues : values);
    if (e.acao.isEmpty())
        e.acao = QString::fromUtf8(before.isEmpty() ? kInsert : after.isEmpty() ? kDelete : kUpdate);
    if (!before.isEmpty() && !after.isEmpty()) {
        const auto [b, a] = differing(before, after);
        e.antes = join(masked(b, "***"));
        e.depois = join(masked(a, "*** (alterada)"));
    } else {
        if (e.antes.isEmpty()) e.antes = join(masked(before, "***"));
        if (e.depois.isEmpty()) e.depois = join(masked(after, "***"));
    }
    if (!write(db, e, error)) return false;
    return t.commit() || fail(db.lastError().text(), error);
}

} // namespace tulmo::audit
