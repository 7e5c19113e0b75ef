#include "SerialExport.h"

namespace tulmo {

SerialExport::SerialExport(QObject *parent)
    : QObject(parent) {
    m_ackWait.setSingleShot(true);
    m_ackWait.setInterval(kAckWaitMs);
    connect(&m_ackWait, &QTimer::timeout, this, [this] {
        m_waitingAck = false;
        writeNext();
    });
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialExport::written);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialExport::received);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && m_running) fail(m_port.errorString());
    });
}

bool SerialExport::open(const QString &device, qint32 speed, QString *error) {
    close();
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (error)
            *error = QStringLiteral("Não foi possível abrir a porta serial \"%1\": %2")
                         .arg(device, m_port.errorString());
        return false;
    }
    // Pseudo-terminals refuse some line settings; a port that opened is usable anyway.
    m_port.setBaudRate(speed);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setDataTerminalReady(false);
    m_port.setRequestToSend(false);
    m_port.clearError();
    return true;
}

void SerialExport::close() {
    m_running = false;
    m_waitingAck = false;
    m_ackWait.stop();
    if (m_port.isOpen()) m_port.close();
}

void SerialExport::start(const QList<QByteArray> &frames) {
    m_frames = frames;
    m_next = 0;
    m_running = true;
    m_waitingAck = false;
    emit progress(0, int(m_frames.size()));
    writeNext();
}

void SerialExport::writeNext() {
    if (!m_running || m_waitingAck) return;
    if (m_next >= m_frames.size()) {
        m_running = false;
        emit finished(true, QString());
        return;
    }
    m_port.readAll(); // an answer to an earlier frame must not acknowledge this one
    if (m_port.write(m_frames.at(m_next)) != m_frames.at(m_next).size())
        return fail(m_port.errorString());
    ++m_next;
    m_waitingAck = true;
}

// Once the frame has left the port, the other side has kAckWaitMs to acknowledge it.
void SerialExport::written() {
    if (!m_running || !m_waitingAck || m_port.bytesToWrite() > 0) return;
    emit progress(m_next, int(m_frames.size()));
    m_ackWait.start();
}

void SerialExport::received() {
    const QByteArray bytes = m_port.readAll();
    if (!m_waitingAck || m_port.bytesToWrite() > 0 || !bytes.contains(kAck)) return;
    if (!m_ackWait.isActive()) emit progress(m_next, int(m_frames.size()));
    m_ackWait.stop();
    m_waitingAck = false;
    writeNext();
}

void SerialExport::fail(const QString &why) {
    m_running = false;
    m_waitingAck = false;
    m_ackWait.stop();
    emit finished(false, QStringLiteral("Houve um erro ao escrever na porta serial \"%1\": %2")
                             .arg(m_port.portName(), why));
}

} // namespace tulmo
