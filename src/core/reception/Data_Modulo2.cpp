#include "Data_Modulo2.h"

#include "core/settings/IniFile.h"
#include "core/settings/ReceiverPorts.h"

#include <QSerialPort>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QUdpSocket>

namespace tulmo {

DM1::DM1(QString dataDir, Database &database, QObject *parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
    , m_database(database) {
    for (int k = 1; k <= kSlots; ++k) {
        ReceiverSlot &s = m_slots[size_t(k)];
        s.number = k;
        s.comPort = new QSerialPort(this);
        s.comPort->setObjectName(QStringLiteral("ComPorta%1").arg(k));
        s.comPort->setProperty("Tag", k);
        s.comPort->setPortName(QStringLiteral("COM1"));
        s.comPort->setBaudRate(9600);
        s.timerCom = new QTimer(this);
        s.timerCom->setObjectName(QStringLiteral("TimerCom%1").arg(k));
        s.timerCom->setSingleShot(true);
        s.timerCom->setInterval(100);
        s.timerSM = new QTimer(this);
        s.timerSM->setObjectName(QStringLiteral("TimerSM%1").arg(k));
        s.timerSM->setSingleShot(true);
        s.timerSM->setInterval(1000);
        connect(s.timerSM, &QTimer::timeout, this, [this, k] { TimerSMTimer(k); });
        // A device that went away (an adapter pulled, the far end of a virtual line closed)
        // leaves the port readable for ever: it is closed, after the handler that told it.
        connect(s.comPort, &QSerialPort::errorOccurred, this,
                [this, k](QSerialPort::SerialPortError e) {
                    if (e == QSerialPort::ResourceError)
                        QMetaObject::invokeMethod(
                            this, [this, k] { serialFailed(k); }, Qt::QueuedConnection);
                });
        s.socketServer = new TcpListener(this);
        s.socketServer->setObjectName(QStringLiteral("SocketServer%1").arg(k));
        s.socketServer->setProperty("Tag", k);
        s.udpSocket = new QUdpSocket(this);
        s.udpSocket->setObjectName(QStringLiteral("UdpSocket%1").arg(k));
        s.udpSocket->setProperty("Tag", k);
        connect(s.socketServer, &QTcpServer::acceptError, this,
                [this, k](QAbstractSocket::SocketError e) { SocketServerAcceptError(k, e); });
    }
}

void DM1::SocketServerAcceptError(int k, QAbstractSocket::SocketError error) {
    // The listener resumes by itself; the operator learns why devices wait meanwhile.
    const QString reason = error == QAbstractSocket::SocketResourceError
                               ? QStringLiteral("recursos do sistema esgotados")
                               : slot(k).socketServer->errorString();
    m_portMonitor.append(
        k, QStringLiteral("Receiver %1: conexão TCP não aceita (%2), nova tentativa em %3 s")
               .arg(k)
               .arg(reason)
               .arg(TcpListener::kAcceptRetryMs / 1000));
}

DM1::~DM1() {
    for (int k = 1; k <= kSlots; ++k)
        if (m_slots[size_t(k)].comPort->isOpen()) m_slots[size_t(k)].comPort->close();
}

QSerialPort *DM1::comPort(int k) const {
    return validSlot(k) ? m_slots[size_t(k)].comPort : nullptr;
}

QString DM1::portName(int portaCom) {
    return QStringLiteral("COM%1").arg(portaCom + 1);
}

qint32 DM1::speed(int baudsCom) {
    static const qint32 speeds[] = {1200,  2400,  4800,  9600,  14400,
                                    19200, 38400, 56000, 57600, 115200};
    if (baudsCom < 0 || baudsCom > 9) return 9600;
    return speeds[baudsCom];
}

bool DM1::openSerialPort(int k, int portaCom, int baudsCom, QString *error) {
    QSerialPort *p = comPort(k);
    if (!p) return false;
    slot(k).portaCom = portaCom;
    slot(k).baudsCom = baudsCom;
    if (p->isOpen()) p->close();
    const QString device =
        serialDeviceFor(portName(portaCom), m_dataDir + QStringLiteral("/Config.ini"));
    p->setPortName(device);
    if (!p->open(QIODevice::ReadWrite)) {
        if (error) *error = p->errorString();
        return false;
    }
    // Pseudo-terminals refuse some line settings; a port that opened is usable anyway.
    p->setBaudRate(speed(baudsCom));
    p->setDataBits(QSerialPort::Data8);
    p->setParity(QSerialPort::NoParity);
    p->setStopBits(QSerialPort::OneStop);
    p->setFlowControl(QSerialPort::NoFlowControl);
    p->setDataTerminalReady(false);
    p->setRequestToSend(false);
    p->clearError();
    ComPortaAfterOpen(k);
    return true;
}

void DM1::ComPortaAfterOpen(int k) {
    writeToSlot(k, QByteArrayLiteral("SP"));
}

void DM1::TimerSMTimer(int k) {
    ReceiverSlot &s = slot(k);
    s.timerSM->stop();
    if (s.comPort->isOpen()) s.comPort->close();
    m_portMonitor.append(k, QStringLiteral("Receptora Porta %1 não encontrada!").arg(k));
    emit receiverNotFound(k);
}

void DM1::serialFailed(int k) {
    QSerialPort *p = comPort(k);
    if (!p || !p->isOpen()) return;
    const QString why = p->errorString();
    p->close();
    m_serialDown[k].start();
    m_portMonitor.append(k,
                         QStringLiteral("Porta %1: porta serial com defeito (%2); nova tentativa "
                                        "a cada %3 s")
                             .arg(k)
                             .arg(why)
                             .arg(kSerialRetryMs / 1000));
}

void DM1::markInactive(int k) {
    if (m_shared) return;
    QSqlQuery q(m_database.primary());
    q.prepare(QStringLiteral("Update RECEIVER Set ATIVO =:ativo\nwhere RECEIVER =:id"));
    q.bindValue(QStringLiteral(":ativo"), 0);
    q.bindValue(QStringLiteral(":id"), k);
    q.exec();
}

std::optional<QList<DM1::Row>> DM1::readReceivers() {
    QSqlQuery q(m_database.primary());
    q.setForwardOnly(true);
    // By number: the k-th receiver is slot k, as the settings dialog numbers them.
    if (!q.exec(QStringLiteral("Select * from Receiver order by RECEIVER"))) return std::nullopt;
    const QSqlRecord rec = q.record();
    auto value = [&](const char *n) { return q.value(rec.indexOf(QLatin1String(n))); };
    auto col = [&](const char *n) { return value(n).toInt(); };
    QList<Row> rows;
    while (q.next()) {
        Row l;
        l.receiver = col("RECEIVER");
        l.nome = value("NOME").toString();
        l.modo = col("MODO_COMUNICACAO");
        l.ativo = col("ATIVO") != 0;
        l.portaCom = ReceiverConfig::portaComOf(value("PORTA_COM"), l.modo);
        l.baudsCom = col("BAUDS_COM");
        l.portaTcp = col("PORTA_TCP");
        l.portaUdp = col("PORTA_UDP");
        l.tempoResposta = col("TEMPO_RESPOSTA");
        l.tempoKeepAlive = col("TEMPO_KEEPALIVE");
        rows.append(l);
    }
    return rows;
}

QStringList DM1::refuseConflicts(QList<Row> &rows) {
    const QString ini = m_dataDir + QStringLiteral("/Config.ini");
    const QList<ReceiverPorts::Conflict> found = ReceiverPorts::conflicts(
        rows, [&](int portaCom) { return serialDeviceFor(portName(portaCom), ini); });
    QStringList texts;
    for (const ReceiverPorts::Conflict &c : found)
        texts.append(ReceiverPorts::applyText(rows, c));
    for (const ReceiverPorts::Conflict &c : found) {
        if (c.claimantUse == ReceiverPorts::Use::EventOutput)
            rows[c.claimant].portaCom = ReceiverConfig::kNoOutput;
        else
            rows[c.claimant].ativo = false; // for this apply only: the row stays as it is
    }
    for (const QString &t : texts) {
        m_portMonitor.append(t);
        if (!m_conflicts.contains(t)) emit portConflict(t);
    }
    m_conflicts = texts;
    return texts;
}

QStringList DM1::Realizar_Atualizacoes() {
    const std::optional<QList<Row>> read = readReceivers();
    if (!read || read->isEmpty()) return {};
    // The dialog keeps at most ten receivers; rows beyond the tenth have no slot to serve them.
    QList<Row> rows = read->mid(0, kSlots);
    m_serialDown.clear(); // every serial port is opened below, or refused as the rows say

    for (int k = 1; k <= kSlots; ++k) {
        ReceiverSlot &s = slot(k);
        s.timerSM->stop();
        if (s.comPort->isOpen()) s.comPort->close();
        // What the repeater may open again is what this apply configures, nothing older.
        s.portaCom = -1;
        s.eventOutput = false;
    }
    const QStringList conflicts = refuseConflicts(rows);
    m_appliedRows = rows;
    m_refused.clear();
    m_refusals.clear();
    // A UDP socket answers only while its receiver is an active UDP/IP one: unlike a
    // listener it holds no connections worth keeping.
    for (int k = 1; k <= kSlots; ++k) {
        const bool udp = k <= rows.size() && rows[k - 1].ativo && rows[k - 1].modo == UdpIp;
        if (!udp || slot(k).udpSocket->localPort() != rows[k - 1].portaUdp) closeUdp(k);
    }
    for (int k = 1; k <= int(rows.size()); ++k) {
        const Row &l = rows[k - 1];
        ReceiverSlot &s = slot(k);
        s.tempoResposta = l.tempoResposta;
        s.tempoKeepAlive = l.tempoKeepAlive;
        if (!l.ativo) continue;
        if (l.modo == UdpIp) {
            openUdp(k, l.portaUdp);
        } else if (l.modo == Serial) {
            if (!openSerialPort(k, l.portaCom, l.baudsCom)) {
                markInactive(k);
                continue;
            }
            // The identification request once more, now that the receiver is configured.
            writeToSlot(k, QByteArrayLiteral("SP"));
            s.timerSM->start(1000);
        } else if (l.modo == TcpIp) {
            applyTcp(k, l, rows);
        }
    }
    return conflicts;
}

void DM1::applyTcp(int k, const Row &l, const QList<Row> &rows) {
    ReceiverSlot &s = slot(k);
    // Port 0 would listen wherever the system pleases, where no device looks.
    if (l.portaTcp < 1 || l.portaTcp > 65535) {
        listenerRefused(
            k, QStringLiteral("Receiver %1: porta TCP %2 inválida").arg(k).arg(l.portaTcp));
        return;
    }
    // A listener keeps its connections unless its port changes.
    const QVariant configured = s.socketServer->property("PortaConfigurada");
    if (!configured.isValid() || configured.toInt() != l.portaTcp) {
        releasePort(k, l.portaTcp, rows);
        s.socketServer->close();
        if (!s.socketServer->listen(QHostAddress::Any, quint16(l.portaTcp))) {
            s.socketServer->setProperty("PortaConfigurada", QVariant());
            const QString why =
                s.socketServer->serverError() == QAbstractSocket::AddressInUseError
                    ? QStringLiteral("Receiver %1: porta TCP %2 em uso").arg(k).arg(l.portaTcp)
                    : QStringLiteral("Receiver %1: porta TCP %2 não pôde ser aberta (%3)")
                          .arg(k)
                          .arg(l.portaTcp)
                          .arg(s.socketServer->errorString());
            listenerRefused(k, why);
            return;
        }
        s.socketServer->setProperty("PortaConfigurada", l.portaTcp);
        emit listenerStarted(k);
    }
    // The slot's serial port is its event output, when one is configured; failing to open
    // it is no failure: the repeater opens it again at each attempt.
    if (!ReceiverPorts::hasEventOutput(l)) return;
    s.eventOutput = true;
    openSerialPort(k, l.portaCom, l.baudsCom);
}

bool DM1::openUdp(int k, int port) {
    QUdpSocket *udp = slot(k).udpSocket;
    if (udp->state() == QAbstractSocket::BoundState) return true;
    const bool portValid = port >= 1 && port <= 65535;
    if (portValid && udp->bind(QHostAddress::Any, quint16(port))) {
        // Panels report together after a power or network failure: the system's usual
        // buffer holds a few hundred datagrams, a flood of thousands waits whole.
        udp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
        m_portMonitor.append(k,
                             QStringLiteral("Receiver %1: DC-09 na porta UDP %2").arg(k).arg(port));
        return true;
    }
    listenerRefused(k, portValid
                           ? QStringLiteral("Receiver %1: porta UDP %2 não pôde ser aberta (%3)")
                                 .arg(k)
                                 .arg(port)
                                 .arg(udp->errorString())
                           : QStringLiteral("Receiver %1: porta UDP %2 inválida").arg(k).arg(port));
    return false;
}

void DM1::retryRefused() {
    const QSet<int> refused = std::exchange(m_refused, {});
    for (int k : refused) {
        if (k > m_appliedRows.size()) continue;
        const Row &l = m_appliedRows[k - 1];
        if (!l.ativo) continue;
        if (l.modo == UdpIp)
            openUdp(k, l.portaUdp);
        else if (l.modo == TcpIp)
            applyTcp(k, l, m_appliedRows);
    }
}

void DM1::reopenFailedSerial() {
    for (auto it = m_serialDown.begin(); it != m_serialDown.end();) {
        const int k = it.key();
        if (k > m_appliedRows.size() || !m_appliedRows[k - 1].ativo ||
            m_appliedRows[k - 1].modo != Serial || comPort(k)->isOpen()) {
            it = m_serialDown.erase(it);
            continue;
        }
        if (it->elapsed() < kSerialRetryMs) {
            ++it;
            continue;
        }
        const Row &l = m_appliedRows[k - 1];
        if (!openSerialPort(k, l.portaCom, l.baudsCom)) {
            it->start();
            ++it;
            continue;
        }
        m_portMonitor.append(k, QStringLiteral("Porta %1: porta serial aberta de novo").arg(k));
        it = m_serialDown.erase(it);
    }
}

void DM1::closeAll() {
    m_serialDown.clear();
    for (int k = 1; k <= kSlots; ++k) {
        ReceiverSlot &s = slot(k);
        s.timerSM->stop();
        if (s.comPort->isOpen()) s.comPort->close();
        s.portaCom = -1;
        s.eventOutput = false;
        s.socketServer->close();
        s.socketServer->setProperty("PortaConfigurada", QVariant());
        closeUdp(k);
    }
    m_refused.clear();
    m_refusals.clear();
}

void DM1::closeUdp(int k) {
    QUdpSocket *udp = slot(k).udpSocket;
    if (udp->state() != QAbstractSocket::UnconnectedState) udp->close();
}

void DM1::listenerRefused(int k, const QString &why) {
    m_refused.insert(k);
    // Tried again every second on a shared station: told once until it changes.
    if (m_shared && m_refusals.value(k) == why) return;
    m_refusals.insert(k, why);
    // As for a serial receiver not found: the row is no longer active, the settings dialog
    // clears its mark, and the port monitor says why.
    markInactive(k);
    m_portMonitor.append(k, why);
    emit receiverNotFound(k);
    emit receiverRefused(k, why);
}

void DM1::releasePort(int k, int port, const QList<Row> &rows) {
    // Listeners stay up when their receiver goes inactive or away, but one left on a port
    // that another slot's receiver now names gives it up: after a receiver is deleted and
    // the rest renumbered, the next receiver takes over its old port instead of failing on
    // it. Its devices stay connected until they reconnect to the new listener.
    for (int j = 1; j <= kSlots; ++j) {
        if (j == k) continue;
        ReceiverSlot &another = slot(j);
        const QVariant configured = another.socketServer->property("PortaConfigurada");
        if (!another.socketServer->isListening() || configured.toInt() != port) continue;
        if (j <= rows.size()) {
            const Row &l = rows[j - 1];
            // The receiver that holds the port keeps its listener (the other claim was
            // refused as a conflict).
            if (l.ativo && l.modo == TcpIp && l.portaTcp == port) continue;
        }
        another.socketServer->close();
        another.socketServer->setProperty("PortaConfigurada", QVariant());
    }
}

bool DM1::writeToSlot(int slot, const QByteArray &bytes) {
    QSerialPort *p = comPort(slot);
    if (!p || !p->isOpen()) return false;
    const bool ok = p->write(bytes) == bytes.size();
    p->flush(); // hand the bytes to the driver now rather than on the next loop pass
    return ok;
}

bool DM1::hasEventOutput(int k) const {
    return validSlot(k) && m_slots[size_t(k)].eventOutput;
}

bool DM1::openAndWrite(int k, const QByteArray &bytes) {
    QSerialPort *p = comPort(k);
    if (!p) return false;
    // Opening reads [Portas] again, and announces itself with "SP" like every open.
    if (!p->isOpen() &&
        (slot(k).portaCom < 0 || !openSerialPort(k, slot(k).portaCom, slot(k).baudsCom)))
        return false;
    return writeToSlot(k, bytes);
}

} // namespace tulmo
