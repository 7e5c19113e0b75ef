#pragma once

#include <QTcpServer>
#include <QTimer>

namespace tulmo {

// The listener of a receiver slot. Accepted connections are handed over as native sockets:
// a station holds thousands of devices, and a full QTcpSocket for each of them (buffers,
// engine, notifiers polled on every wake-up of the event loop) costs more than the whole
// exchange with a device needs.
//
// An accept that fails (out of descriptors, most often) pauses the server; it resumes after
// kAcceptRetryMs, so the device that could not be taken waits in the kernel's queue and
// is taken then, instead of the listener ignoring every device from then on.
class TcpListener : public QTcpServer {
    Q_OBJECT
public:
    // Devices come back together after a network failure at the station: the kernel queues
    // that many completed connections for acceptance instead of dropping the rest of a burst
    // for the devices to retry seconds later.
    static constexpr int kAcceptQueue = 1024;
    // Long enough not to spin on a lasting shortage, short enough for a device not to give up.
    static constexpr int kAcceptRetryMs = 1000;

    explicit TcpListener(QObject *parent = nullptr)
        : QTcpServer(parent) {
        setListenBacklogSize(kAcceptQueue);
        m_retry.setSingleShot(true);
        m_retry.setInterval(kAcceptRetryMs);
        connect(this, &QTcpServer::acceptError, &m_retry, qOverload<>(&QTimer::start));
        // A listener closed meanwhile has nothing to resume.
        connect(&m_retry, &QTimer::timeout, this, [this] {
            if (isListening()) resumeAccepting();
        });
    }

signals:
    void connectionReceived(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { emit connectionReceived(descriptor); }

private:
    QTimer m_retry;
};

} // namespace tulmo
