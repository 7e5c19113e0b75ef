#include "sim/StationSetup.h"

#include "core/common/Clock.h"
#include "core/console/DataFolderLock.h"
#include "core/operators/AuditTrail.h"
#include "core/reception/Dc09Keys.h"
#include "core/registry/GprsRepository.h"
#include "core/settings/IniFile.h"
#include "core/settings/ReceiverTable.h"
#include "core/store/Store.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

namespace tulmo::sim {

namespace {

// The receiver that serves a port already, or a new one at the end of the table.
bool ensureReceiver(ReceiverTable &table, int modo, int port, const QString &nome,
                    QStringList *done, QString *error) {
    const std::optional<QList<ReceiverConfig>> rows = table.all();
    if (!rows) {
        *error = QStringLiteral("não foi possível ler as receptoras");
        return false;
    }
    for (const ReceiverConfig &r : *rows) {
        const bool same = modo == 1   ? (r.modo == 1 && r.portaTcp == port)
                          : modo == 2 ? (r.modo == 2 && r.portaUdp == port)
                                      : (r.modo == 0 && r.portaCom == 0);
        if (same && r.ativo) {
            *done << QStringLiteral("receptora %1 (%2) já existia").arg(r.receiver).arg(r.nome);
            return true;
        }
    }
    if (rows->size() >= ReceiverTable::kMaxReceivers) {
        *error = QStringLiteral("a central já tem %1 receptoras").arg(ReceiverTable::kMaxReceivers);
        return false;
    }
    ReceiverConfig r;
    r.receiver = int(rows->size()) + 1;
    r.nome = nome;
    r.modo = modo;
    r.ativo = true;
    r.portaCom = modo == 0 ? 0 : ReceiverConfig::kNoOutput;
    r.portaTcp = modo == 1 ? port : 0;
    r.portaUdp = modo == 2 ? port : 0;
    // Devices answered at once: the reply delay is for receivers that need a pause.
    r.tempoResposta = 0;
    if (!table.insert(r.receiver, nome) || !table.apply(r, r.receiver)) {
        *error = QStringLiteral("não foi possível gravar a receptora %1").arg(nome);
        return false;
    }
    *done << QStringLiteral("receptora %1 (%2) criada").arg(r.receiver).arg(nome);
    return true;
}

} // namespace

bool StationSetup::run(QStringList *done, QString *error) const {
    const QString dataDir = QDir(folder).absoluteFilePath(QStringLiteral("Dados"));
    DataFolderLock lock(dataDir);
    if (!lock.acquire(QStringLiteral("tulmo-simulador"), error)) return false;
    audit::setStation(QStringLiteral("tulmo-simulador"));
    audit::setClock(&SystemClock::instance());
    Store store(dataDir);
    QString catalogue;
    if (!store.open(SystemClock::instance(), error, &catalogue)) return false;
    QSqlDatabase db = store.database().primary();

    ReceiverTable receivers(db);
    if (tcpPort > 0 &&
        !ensureReceiver(receivers, 1, tcpPort, QStringLiteral("SIMULADOR TCP %1").arg(tcpPort),
                        done, error))
        return false;
    if (udpPort > 0 &&
        !ensureReceiver(receivers, 2, udpPort, QStringLiteral("SIMULADOR UDP %1").arg(udpPort),
                        done, error))
        return false;
    if (!serialDevice.isEmpty()) {
        IniFile ini(dataDir + QStringLiteral("/Config.ini"));
        if (!ini.writeString(QStringLiteral("Portas"), QStringLiteral("COM1"), serialDevice)) {
            *error = QStringLiteral("não foi possível gravar [Portas] em Config.ini");
            return false;
        }
        if (!ensureReceiver(receivers, 0, 0, QStringLiteral("SIMULADOR SERIAL"), done, error))
            return false;
        *done << QStringLiteral("COM1 = %1 em [Portas]").arg(serialDevice);
    }

    int added = 0, kept = 0;
    for (int i = 0; i < modules; ++i) {
        GprsModule m;
        m.imei = QString::number(firstImei + i).rightJustified(6, QLatin1Char('0')).right(6);
        m.conta = QString::number(firstAccount + i).rightJustified(4, QLatin1Char('0')).right(4);
        m.equipamento = QStringLiteral("01");
        GprsModule old;
        switch (GprsRepository::find(db, m.imei, &old, error)) {
        case GprsRepository::Found::Failed:
            return false;
        case GprsRepository::Found::Yes:
            // A module the device link registered as pending is reviewed here; an operator's
            // row stays as the operator left it.
            if (old.status != QLatin1String("P")) {
                ++kept;
                continue;
            }
            break;
        case GprsRepository::Found::No:
            break;
        }
        GprsRepository::prepareForPost(m, QDateTime::currentDateTime());
        m.listaNegra = QStringLiteral("0");
        const bool exists = !old.imei.isEmpty();
        if (GprsRepository::post(db, nullptr, exists ? m.imei : QString(), m, error) !=
            GprsRepository::Post::Saved) {
            if (error->isEmpty())
                *error = QStringLiteral("não foi possível cadastrar o módulo %1").arg(m.imei);
            return false;
        }
        ++added;
    }
    if (modules > 0)
        *done
            << QStringLiteral("módulos GPRS: %1 cadastrados, %2 já existiam").arg(added).arg(kept);

    if (!key.isEmpty() && panels > 0) {
        Dc09Keys keys(db);
        if (!keys.load(error)) return false;
        QList<Dc09Keys::Entry> entries = keys.entries();
        const QString hex = QString::fromLatin1(key.toHex().toUpper());
        for (int first : firstPanelAccounts)
            for (int i = 0; i < panels; ++i) {
                const QString account =
                    QString::number(first + i).rightJustified(4, QLatin1Char('0'));
                entries.erase(std::remove_if(entries.begin(), entries.end(),
                                             [&](const Dc09Keys::Entry &e) {
                                                 return Dc09Keys::normalised(e.account) ==
                                                        Dc09Keys::normalised(account);
                                             }),
                              entries.end());
                entries.append({account, hex});
            }
        if (!keys.save(entries, error)) return false;
        *done << QStringLiteral("chave DC-09 gravada para %1 contas")
                     .arg(panels * firstPanelAccounts.size());
    }
    store.database().close();
    return true;
}

} // namespace tulmo::sim
