#include "Store.h"

#include "core/common/Clock.h"
#include "core/registry/StandardCatalogue.h"
#include "core/store/Schema.h"

#include <QRandomGenerator>
#include <QThread>

namespace tulmo {

Store::Store(const QString &dataDir)
    : m_database(dataDir + QStringLiteral("/TULMO.FDB")) {}

Store::Store(DatabaseLocation where)
    : m_database(std::move(where)) {}

bool Store::open(const Clock &clock, QString *error, QString *catalogueError) {
    if (!m_database.open(error)) return false;
    // On a server, other workstations may be upgrading the same database at this moment: a
    // statement refused because another process just created the same object leaves a step
    // undone, and the next round, which finds what the other created, completes it.
    for (int round = 0; round < 5; ++round) {
        if (round > 0) QThread::msleep(100 + QRandomGenerator::global()->bounded(400));
        schema::upgradeDataModuleStep(m_database.primary(), m_database.secondary());
        schema::upgradeMainWindowStep(m_database.primary(), clock.now());
        schema::ensureIndexes(m_database.primary());
        schema::ensureQueueMark(m_database.primary());
        schema::ensureDc09Keys(m_database.primary());
        schema::ensureStation(m_database.primary());
        if (schema::upgradeComplete(m_database.primary())) break;
    }
    // A new installation starts with the standard codes, once the upgrade has given the
    // catalogue all its columns; an existing catalogue is the station's and stays as it is.
    if (m_database.created()) {
        QString reason;
        if (!StandardCatalogue::fill(m_database.primary(), &reason) && catalogueError)
            *catalogueError = reason.trimmed();
    }
    return true;
}

} // namespace tulmo
