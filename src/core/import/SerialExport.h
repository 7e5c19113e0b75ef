#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

namespace tulmo {

// Sends the imported events out of a serial port as receiver frames, one at a time the way a
// receiver does: a frame, then the next once the other side has acknowledged it (0x06) or
// has had kAckWaitMs without an answer. Software that ends a frame by a quiet line (300 ms at
// our own serial inputs) therefore sees each event as a frame of its own.
class SerialExport : public QObject {
    Q_OBJECT
public:
    static constexpr int kAckWaitMs = 400;
    static constexpr char kAck = 0x06;

    explicit SerialExport(QObject *parent = nullptr);

    // Opens device at speed: 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS
    // off. False with the reason (Portuguese) in error.
    bool open(const QString &device, qint32 speed, QString *error);
    void close();
    bool isOpen() const { return m_port.isOpen(); }

    void start(const QList<QByteArray> &frames);
    bool running() const { return m_running; }

signals:
    void progress(int sent, int total);
    // ok false: the port failed, error says why; the frames before it have left.
    void finished(bool ok, const QString &error);

private:
    void writeNext();
    void written();
    void received();
    void fail(const QString &why);

    QSerialPort m_port;
    QTimer m_ackWait;
    QList<QByteArray> m_frames;
    int m_next = 0;
    bool m_running = false;
    bool m_waitingAck = false;
};

} // namespace tulmo
