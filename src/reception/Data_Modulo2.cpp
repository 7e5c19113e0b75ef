#include "Data_Modulo2.h"

#include "settings/IniFile.h"
#include "store/schema.h"

#include <QSerialPort>

namespace tulmo {

DM1::DM1(QString dataDir, QObject *parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
    , m_banco(std::make_unique<Banco>(m_dataDir + QStringLiteral("/TULMO.FDB"))) {
    for (int k = 1; k <= kSlots; ++k) {
        auto *p = new QSerialPort(this);
        p->setObjectName(QStringLiteral("ComPorta%1").arg(k));
        p->setProperty("Tag", k);
        p->setPortName(QStringLiteral("COM1"));
        p->setBaudRate(9600);
        m_com[k] = p;
    }
}

DM1::~DM1() {
    for (int k = 1; k <= kSlots; ++k)
        if (m_com[k]->isOpen()) m_com[k]->close();
}

bool DM1::abrirBanco(QString *error) {
    if (!m_banco->open(error)) return false;
    schema::upgradeDataModuleStep(m_banco->principal(), m_banco->secundaria());
    return true;
}

QSerialPort *DM1::comPorta(int k) const {
    return (k >= 1 && k <= kSlots) ? m_com[k] : nullptr;
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
    return true;
}

bool DM1::writeToSlot(int slot, const QByteArray &bytes) {
    QSerialPort *p = comPorta(slot);
    if (!p || !p->isOpen()) return false;
    const bool ok = p->write(bytes) == bytes.size();
    p->flush(); // hand the bytes to the driver now rather than on the next loop pass
    return ok;
}

} // namespace tulmo
