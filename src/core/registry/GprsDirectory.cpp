#include "GprsDirectory.h"

#include "core/registry/GprsRepository.h"
#include "core/store/Database.h"

namespace tulmo {

GprsDirectory::GprsDirectory(Database &database)
    : m_database(database) {}

GprsDirectory::Entry GprsDirectory::entryOf(const GprsModule &m) {
    return {m.conta, m.status, m.data, m.listaNegra.trimmed().toInt() != 0};
}

GprsDirectory::Found GprsDirectory::find(const QString &imei, Entry *entry) {
    if (!m_loaded && !reload()) return Found::Failed;
    auto it = m_rows.constFind(imei);
    if (it == m_rows.constEnd()) {
        // Only a module about to be registered pays for this read: its registration costs
        // a transaction anyway.
        const Found f = refresh(imei);
        if (f != Found::Yes) return f;
        it = m_rows.constFind(imei);
    }
    if (entry) *entry = it.value();
    return Found::Yes;
}

bool GprsDirectory::reload(QString *errorText) {
    // One select, in the transaction the driver starts for it alone and ends once it is read.
    const std::optional<QList<GprsModule>> modules =
        GprsRepository::all(m_database.primary(), errorText);
    if (!modules) return false;
    QHash<QString, Entry> rows;
    rows.reserve(modules->size());
    for (const GprsModule &m : *modules)
        rows.insert(m.imei, entryOf(m));
    m_rows.swap(rows);
    m_loaded = true;
    return true;
}

GprsDirectory::Found GprsDirectory::refresh(const QString &imei) {
    GprsModule m;
    switch (GprsRepository::find(m_database.primary(), imei, &m)) {
    case GprsRepository::Found::Yes:
        m_rows.insert(imei, entryOf(m));
        return Found::Yes;
    case GprsRepository::Found::No:
        m_rows.remove(imei);
        return Found::No;
    case GprsRepository::Found::Failed:
        break;
    }
    return Found::Failed;
}

void GprsDirectory::put(const GprsModule &m) {
    // Before the first read there is nothing to keep current: that read will hold the row.
    if (m_loaded) m_rows.insert(m.imei, entryOf(m));
}

void GprsDirectory::remove(const QString &imei) {
    m_rows.remove(imei);
}

} // namespace tulmo
