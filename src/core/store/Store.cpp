#include "Store.h"

#include "core/common/Clock.h"
#include "core/registry/StandardCatalogue.h"
#include "core/store/Schema.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

namespace tulmo {

Store::Store(const QString &dataDir)
    : m_database(dataDir + QStringLiteral("/TULMO.FDB")) {}

Store::Store(DatabaseLocation where)
    : m_database(std::move(where)) {}

bool Store::open(const Clock &clock, QString *error, QString *catalogueError) {
    if (!m_database.open(error)) return false;
    // On a server, other workstations may be upgrading the same database at this moment, and
    // the engine can leave two processes changing the same tables waiting on each other. The
    // workstation that created the database upgrades it at once; the others wait for the
    // upgrade to be complete (up to a minute, should that one die meanwhile) and only then go
    // through it, finding everything done. A statement refused because another process just
    // created the same object leaves a step undone, and the next round completes it.
    if (m_database.location().onServer() && !m_database.created()) {
        // Waits while another process is seen changing the schema; an older database that
        // nobody is upgrading is upgraded here after a few seconds.
        QElapsedTimer waited, still;
        waited.start();
        still.start();
        qint64 seen = schema::schemaSize(m_database.primary());
        while (!schema::upgradeComplete(m_database.primary()) && waited.elapsed() < 60000 &&
               still.elapsed() < 3000) {
            QThread::msleep(250 + QRandomGenerator::global()->bounded(250));
            const qint64 now = schema::schemaSize(m_database.primary());
            if (now != seen) still.restart();
            seen = now;
        }
    }
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
