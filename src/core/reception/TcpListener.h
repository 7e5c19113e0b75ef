#pragma once

#include <QTcpServer>

namespace tulmo {

// The listener of a receiver slot. Accepted connections are handed over as native sockets:
// a station holds thousands of devices, and a full QTcpSocket for each of them (buffers,
// engine, notifiers polled on every wake-up of the event loop) costs more than the whole
// exchange with a device needs.
class TcpListener : public QTcpServer {
    Q_OBJECT
public:
    // Devices come back together after a network failure at the station: the kernel queues
    // that many completed connections for acceptance instead of dropping the rest of a burst
    // for the devices to retry seconds later.
    static constexpr int kAcceptQueue = 1024;

    explicit TcpListener(QObject *parent = nullptr)
        : QTcpServer(parent) {
        setListenBacklogSize(kAcceptQueue);
    }

signals:
    void connectionReceived(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { emit connectionReceived(descriptor); }
};

} // namespace tulmo
