#include "Data_Modulo2.h"

#include "settings/IniFile.h"
#include "store/Schema.h"

#include <QSerialPort>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

namespace tulmo {

DM1::DM1(QString dataDir, QObject *parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
    , m_banco(std::make_unique<Database>(m_dataDir + QStringLiteral("/TULMO.FDB"))) {
    for (int k = 1; k <= kSlots; ++k) {
        ReceiverSlot &s = m_slots[size_t(k)];
        s.numero = k;
        s.comPorta = new QSerialPort(this);
        s.comPorta->setObjectName(QStringLiteral("ComPorta%1").arg(k));
        s.comPorta->setProperty("Tag", k);
        s.comPorta->setPortName(QStringLiteral("COM1"));
        s.comPorta->setBaudRate(9600);
        s.timerCom = new QTimer(this);
        s.timerCom->setObjectName(QStringLiteral("TimerCom%1").arg(k));
        s.timerCom->setSingleShot(true);
        s.timerCom->setInterval(100);
        s.timerSM = new QTimer(this);
        s.timerSM->setObjectName(QStringLiteral("TimerSM%1").arg(k));
        s.timerSM->setSingleShot(true);
        s.timerSM->setInterval(1000);
        connect(s.timerSM, &QTimer::timeout, this, [this, k] { TimerSMTimer(k); });
        s.socketServer = new TcpListener(this);
        s.socketServer->setObjectName(QStringLiteral("SocketServer%1").arg(k));
        s.socketServer->setProperty("Tag", k);
    }
}

DM1::~DM1() {
    for (int k = 1; k <= kSlots; ++k)
        if (m_slots[size_t(k)].comPorta->isOpen()) m_slots[size_t(k)].comPorta->close();
}

bool DM1::abrirBanco(QString *error) {
    if (!m_banco->open(error)) return false;
    schema::upgradeDataModuleStep(m_banco->principal(), m_banco->secundaria());
    return true;
}

QSerialPort *DM1::comPorta(int k) const {
    return slotValido(k) ? m_slots[size_t(k)].comPorta : nullptr;
}

QString DM1::nomePorta(int portaCom) {
    return QStringLiteral("COM%1").arg(portaCom + 1);
}

qint32 DM1::velocidade(int baudsCom) {
    static const qint32 speeds[] = {1200,  2400,  4800,  9600,  14400,
                                    19200, 38400, 56000, 57600, 115200};
    if (baudsCom < 0 || baudsCom > 9) return 9600;
    return speeds[baudsCom];
}

bool DM1::abrirPortaSerial(int k, int portaCom, int baudsCom, QString *error) {
    QSerialPort *p = comPorta(k);
    if (!p) return false;
    slot(k).portaCom = portaCom;
    slot(k).baudsCom = baudsCom;
    if (p->isOpen()) p->close();
    const QString device =
        serialDeviceFor(nomePorta(portaCom), m_dataDir + QStringLiteral("/Config.ini"));
    p->setPortName(device);
    if (!p->open(QIODevice::ReadWrite)) {
        if (error) *error = p->errorString();
        return false;
    }
    // Pseudo-terminals refuse some line settings; a port that opened is usable anyway.
    p->setBaudRate(velocidade(baudsCom));
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
    if (s.comPorta->isOpen()) s.comPorta->close();
    m_portaVisor.append(QStringLiteral("Receptora Porta %1 não encontrada!").arg(k));
    emit receptoraNaoEncontrada(k);
}

void DM1::marcarInativo(int k) {
    QSqlQuery q(m_banco->principal());
    q.prepare(QStringLiteral("Update RECEIVER Set ATIVO =:ativo\nwhere RECEIVER =:id"));
    q.bindValue(QStringLiteral(":ativo"), 0);
    q.bindValue(QStringLiteral(":id"), k);
    q.exec();
}

void DM1::Realizar_Atualizacoes() {
    QList<Linha> linhas;
    {
        QSqlQuery q(m_banco->principal());
        q.setForwardOnly(true);
        // By number: the k-th receiver is slot k, as the settings dialog numbers them.
        if (!q.exec(QStringLiteral("Select * from Receiver order by RECEIVER"))) return;
        const QSqlRecord rec = q.record();
        auto col = [&](const char *n) { return q.value(rec.indexOf(QLatin1String(n))).toInt(); };
        while (q.next()) {
            linhas.append({col("MODO_COMUNICACAO"), col("ATIVO"), col("PORTA_COM"),
                           col("BAUDS_COM"), col("PORTA_TCP"), col("TEMPO_RESPOSTA"),
                           col("TEMPO_KEEPALIVE")});
        }
    }
    if (linhas.isEmpty()) return;

    for (int k = 1; k <= kSlots; ++k) {
        ReceiverSlot &s = slot(k);
        s.timerSM->stop();
        if (s.comPorta->isOpen()) s.comPorta->close();
    }
    // The dialog keeps at most ten receivers; rows beyond the tenth have no slot to serve them.
    for (int k = 1; k <= std::min<int>(kSlots, int(linhas.size())); ++k) {
        const Linha &l = linhas[k - 1];
        ReceiverSlot &s = slot(k);
        s.tempoResposta = l.tempoResposta;
        s.tempoKeepAlive = l.tempoKeepAlive;
        if (l.ativo == 0) continue;
        if (l.modo == Serial) {
            if (!abrirPortaSerial(k, l.portaCom, l.baudsCom)) {
                marcarInativo(k);
                continue;
            }
            // The identification request once more, now that the receiver is configured.
            writeToSlot(k, QByteArrayLiteral("SP"));
            s.timerSM->start(1000);
        } else if (l.modo == TcpIp) {
            const bool portValid = l.portaTcp >= 0 && l.portaTcp <= 65535;
            if (!portValid) {
                marcarInativo(k);
                continue;
            }
            // A listener keeps its connections unless its port changes.
            const QVariant configurada = s.socketServer->property("PortaConfigurada");
            if (!configurada.isValid() || configurada.toInt() != l.portaTcp) {
                liberarPorta(k, l.portaTcp, linhas);
                s.socketServer->close();
                if (!s.socketServer->listen(QHostAddress::Any, quint16(l.portaTcp))) {
                    s.socketServer->setProperty("PortaConfigurada", QVariant());
                    marcarInativo(k);
                    continue;
                }
                s.socketServer->setProperty("PortaConfigurada", l.portaTcp);
                emit listenerIniciado(k);
            }
            // The slot's serial port is its event output; failing to open it is no failure.
            abrirPortaSerial(k, l.portaCom, l.baudsCom);
        }
        // UDP/IP: no UDP input exists; nothing is opened.
    }
}

void DM1::liberarPorta(int k, int porta, const QList<Linha> &linhas) {
    // Listeners stay up when their receiver goes inactive or away, but one left on a port
    // that another slot's receiver now names gives it up: after a receiver is deleted and
    // the rest renumbered, the next receiver takes over its old port instead of failing on
    // it. Its devices stay connected until they reconnect to the new listener.
    for (int j = 1; j <= kSlots; ++j) {
        if (j == k) continue;
        ReceiverSlot &outro = slot(j);
        const QVariant configurada = outro.socketServer->property("PortaConfigurada");
        if (!outro.socketServer->isListening() || configurada.toInt() != porta) continue;
        if (j <= linhas.size()) {
            const Linha &l = linhas[j - 1];
            // Two active receivers on one port: the later one fails, as it always did.
            if (l.ativo != 0 && l.modo == TcpIp && l.portaTcp == porta) continue;
        }
        outro.socketServer->close();
        outro.socketServer->setProperty("PortaConfigurada", QVariant());
    }
}

bool DM1::writeToSlot(int slot, const QByteArray &bytes) {
    QSerialPort *p = comPorta(slot);
    if (!p || !p->isOpen()) return false;
    const bool ok = p->write(bytes) == bytes.size();
    p->flush(); // hand the bytes to the driver now rather than on the next loop pass
    return ok;
}

bool DM1::openAndWrite(int k, const QByteArray &bytes) {
    QSerialPort *p = comPorta(k);
    if (!p) return false;
    // Opening reads [Portas] again, and announces itself with "SP" like every open.
    if (!p->isOpen() && (slot(k).portaCom < 0 || !abrirPortaSerial(k, slot(k).portaCom, slot(k).baudsCom)))
        return false;
    return writeToSlot(k, bytes);
}

} // namespace tulmo
