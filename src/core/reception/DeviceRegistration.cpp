#include "DeviceRegistration.h"

#include "core/registry/GprsDirectory.h"
#include "core/registry/GprsRepository.h"
#include "core/store/Database.h"

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

DeviceRegistration::DeviceRegistration(Database &database, GprsDirectory &directory)
    : m_database(database)
    , m_directory(directory) {}

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
    GprsDirectory::Entry e;
    Known k;
    switch (m_directory.find(id, &e)) {
    case GprsDirectory::Found::Failed:
        return k;
    case GprsDirectory::Found::No:
        k.kind = Known::Kind::Unknown;
        return k;
    case GprsDirectory::Found::Yes:
        break;
    }
    k.kind = e.status == QLatin1String("A") ? Known::Kind::Active : Known::Kind::Other;
    k.blocked = e.blocked;
    return k;
}

void DeviceRegistration::forgetBefore(const QDateTime &now) {
    while (!m_recent.isEmpty() && m_recent.head().first.secsTo(now) >= kAddressWindowSecs) {
        const QString source = m_recent.dequeue().second;
        if (--m_perSource[source] <= 0) m_perSource.remove(source);
    }
}

DeviceRegistration::Result
DeviceRegistration::registerPending(const QString &id, const QString &conta, const QString &codigo,
                                    const QString &source, const QDateTime &now) {
    forgetBefore(now);
    if (const int n = m_perSource.value(source); n >= kPerAddress) return {Outcome::AddressFull, n};
    GprsModule m;
    m.imei = id;
    m.conta = conta;
    m.status = QStringLiteral("P");
    m.data = now;
    m.listaNegra = QStringLiteral("1");
    m.equipamento = codigo;
    m.senhaAcesso = QLatin1String(GprsRepository::kDefaultPassword);
    // Counted in the table, where operators also approve and delete pending modules.
    int pending = 0;
    switch (GprsRepository::insertPending(m_database.primary(), &m_directory, m, kMaxPending,
                                          &pending)) {
    case GprsRepository::Registration::Failed:
        return {};
    case GprsRepository::Registration::Full:
        return {Outcome::TableFull, pending};
    case GprsRepository::Registration::Inserted:
        break;
    }
    m_recent.enqueue({now, source});
    const int n = ++m_perSource[source];
    return {Outcome::Registered, n};
}

} // namespace tulmo
