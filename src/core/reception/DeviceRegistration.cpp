#include "DeviceRegistration.h"

#include "store/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace tulmo {

namespace {
// The characters a module's identification is made of: printable ASCII.
bool printable(QChar c) {
    return c.unicode() >= 0x20 && c.unicode() <= 0x7E;
}

// The text for the port monitor: printable characters as they are, others as \xHH.
QString shown(const QString &text) {
    QString out;
    for (QChar c : text) {
        if (printable(c) && c != QLatin1Char('\\'))
            out += c;
        else
            out += QStringLiteral("\\x%1").arg(c.unicode() & 0xFF, 2, 16, QLatin1Char('0'));
    }
    return out;
}
} // namespace

DeviceRegistration::DeviceRegistration(Database &database)
    : m_database(database) {}

QString DeviceRegistration::invalidIdentification(const QString &head, const QString &id) {
    for (QChar c : head) {
        if (!printable(c))
            return QStringLiteral("caracteres que não são texto em \"%1\"").arg(shown(head));
    }
    if (id.trimmed().isEmpty()) return QStringLiteral("identificador em branco");
    if (id.size() > kIdentifierWidth)
        return QStringLiteral("identificador \"%1\" com mais de %2 caracteres")
            .arg(shown(id))
            .arg(kIdentifierWidth);
    return QString();
}

QString DeviceRegistration::sourceOf(const QHostAddress &peer) {
    bool v4 = false;
    const quint32 ip4 = peer.toIPv4Address(&v4);
    if (v4) return QHostAddress(ip4).toString();
    Q_IPV6ADDR a = peer.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        a[i] = 0;
    return QHostAddress(a).toString() + QStringLiteral("/64");
}

DeviceRegistration::Known DeviceRegistration::lookUp(const QString &id) const {
    QSqlQuery q(m_database.primary());
    q.prepare(QStringLiteral("Select * from GPRS where IMEI =:Imei"));
    q.bindValue(QStringLiteral(":Imei"), id);
    Known k;
    if (!q.exec()) return k;
    if (!q.next()) {
        k.kind = Known::Kind::Unknown;
        return k;
    }
    const QSqlRecord rec = q.record();
    const QString status = q.value(rec.indexOf(QStringLiteral("STATUS"))).toString();
    k.kind = status == QLatin1String("A") ? Known::Kind::Active : Known::Kind::Other;
    k.blocked = q.value(rec.indexOf(QStringLiteral("LISTA_NEGRA"))).toInt() != 0;
    return k;
}

void DeviceRegistration::forgetBefore(const QDateTime &now) {
    while (!m_recent.isEmpty() && m_recent.head().first.secsTo(now) >= kAddressWindowSecs) {
        const QString source = m_recent.dequeue().second;
        if (--m_perSource[source] <= 0) m_perSource.remove(source);
    }
}

int DeviceRegistration::pendingRows() const {
    QSqlQuery q(m_database.primary());
    q.prepare(QStringLiteral("Select count(*) from GPRS where STATUS =:status"));
    q.bindValue(QStringLiteral(":status"), QStringLiteral("P"));
    if (!q.exec() || !q.next()) return -1;
    return q.value(0).toInt();
}

DeviceRegistration::Result
DeviceRegistration::registerPending(const QString &id, const QString &conta, const QString &codigo,
                                    const QString &source, const QDateTime &now) {
    forgetBefore(now);
    if (const int n = m_perSource.value(source); n >= kPerAddress) return {Outcome::AddressFull, n};
    // Counted in the table, where operators also approve and delete pending modules.
    const int pending = pendingRows();
    if (pending < 0) return {};
    if (pending >= kMaxPending) return {Outcome::TableFull, pending};

    QSqlQuery ins(m_database.primary());
    ins.prepare(QStringLiteral("Insert Into GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                               "EQUIPAMENTO, SENHA_ACESSO)\n"
                               "values(:imei,:conta,:status,:data,:lista_negra,:equipamento,"
                               ":senha_acesso)"));
    ins.bindValue(QStringLiteral(":imei"), id);
    ins.bindValue(QStringLiteral(":conta"), conta);
    ins.bindValue(QStringLiteral(":status"), QStringLiteral("P"));
    ins.bindValue(QStringLiteral(":data"), now);
    ins.bindValue(QStringLiteral(":lista_negra"), 1);
    ins.bindValue(QStringLiteral(":equipamento"), codigo);
    ins.bindValue(QStringLiteral(":senha_acesso"), QStringLiteral("60418273"));
    if (!ins.exec()) return {};
    m_recent.enqueue({now, source});
    const int n = ++m_perSource[source];
    return {Outcome::Registered, n};
}

} // namespace tulmo
