#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

class QTimer;

namespace tulmo {

class DM1;
class TcpConnection;

// Turns the reads of the device connections into frames. A receiver frame (beginning with
// "1" or "5") ends with 0x14: one split across reads waits for the rest, and several in one
// read are taken one by one, so each is queued, recorded and acknowledged on its own. A
// receiver frame whose 0x14 does not come is taken as it stands once the connection has been
// quiet for kQuietMs, as on a serial line: some devices never send it. A SIA DC-09 message
// (from <LF> to <CR>) is gathered the same way. Any other read is one frame, as it always was.
class FrameAssembler : public QObject {
    Q_OBJECT
public:
    static constexpr char kEnd = 0x14;
    static constexpr int kQuietMs = 300;
    // The most a connection may hold of an unfinished frame; receiver frames are a few dozen
    // bytes, and a device that never ends its frame has it taken here.
    static constexpr qsizetype kMaxFrame = 4096;

    explicit FrameAssembler(DM1 &dm, QObject *parent = nullptr);
    ~FrameAssembler() override;

    // One read of a connection of slot k.
    void take(TcpConnection *socket, int k, const QByteArray &bytes);
    // The connection's quiet time passed: what it holds is taken as it stands.
    void quietTimeout(TcpConnection *socket);
    // The connection closes: what it holds is still a frame the device sent.
    void release(TcpConnection *socket);

    // Bytes of an unfinished frame held for a connection.
    qsizetype heldBytes(const TcpConnection *socket) const;
    // The quiet time that ends a frame; tests stretch it to drive the end themselves.
    void setQuietInterval(int ms) { m_quietMs = ms; }

signals:
    void frameReady(TcpConnection *socket, int slot, const QByteArray &frame);

private:
    struct Held {
        int slot = 0;
        QByteArray bytes;
        QTimer *timer = nullptr;
    };
    void hold(TcpConnection *socket, int k, const QByteArray &bytes);
    void forget(TcpConnection *socket);

    DM1 &m_dm;
    QHash<TcpConnection *, Held> m_held; // only connections with an unfinished frame
    int m_quietMs = kQuietMs;
};

} // namespace tulmo
