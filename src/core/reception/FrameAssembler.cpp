#include "FrameAssembler.h"

#include "reception/Data_Modulo2.h"
#include "reception/TcpConnection.h"

#include <QPointer>
#include <QTimer>

namespace tulmo {

namespace {
bool startsReceiverFrame(char c) {
    return c == '1' || c == '5' || c == '\n';
}
// A DC-09 message runs from <LF> to <CR>; a receiver frame ends with 0x14.
char endOf(char first) {
    return first == '\n' ? '\r' : FrameAssembler::kEnd;
}
} // namespace

FrameAssembler::FrameAssembler(DM1 &dm, QObject *parent)
    : QObject(parent)
    , m_dm(dm) {}

FrameAssembler::~FrameAssembler() = default;

qsizetype FrameAssembler::heldBytes(const TcpConnection *socket) const {
    const auto it = m_held.constFind(const_cast<TcpConnection *>(socket));
    return it == m_held.cend() ? 0 : it->bytes.size();
}

void FrameAssembler::take(TcpConnection *socket, int k, const QByteArray &bytes) {
    QByteArray data = bytes;
    if (const auto it = m_held.find(socket); it != m_held.end()) {
        data.prepend(it->bytes);
        forget(socket);
    }
    // Module programming data is binary and belongs to the exchange that asked for it; only
    // the device the exchange talks to sends it.
    if (m_dm.validSlot(k) && (m_dm.slot(k).dumpPending || m_dm.slot(k).uploadPending) &&
        socket && m_dm.slot(k).transferConnection == socket) {
        emit frameReady(socket, k, data);
        return;
    }
    const QPointer<TcpConnection> guard(socket);
    qsizetype from = 0;
    while (from < data.size()) {
        // The handling of a frame may have closed this connection: what follows has no row
        // to answer to.
        if (!guard || !socket->connected()) return;
        if (!startsReceiverFrame(data.at(from))) {
            emit frameReady(socket, k, data.mid(from));
            return;
        }
        const qsizetype end = data.indexOf(endOf(data.at(from)), from);
        if (end >= 0) {
            emit frameReady(socket, k, data.mid(from, end - from + 1));
            from = end + 1;
        } else if (data.size() - from >= kMaxFrame) {
            emit frameReady(socket, k, data.mid(from, kMaxFrame));
            from += kMaxFrame;
        } else {
            hold(socket, k, data.mid(from));
            return;
        }
    }
}

void FrameAssembler::hold(TcpConnection *socket, int k, const QByteArray &bytes) {
    Held &h = m_held[socket];
    h.slot = k;
    h.bytes = bytes;
    if (!h.timer) {
        h.timer = new QTimer(this);
        h.timer->setSingleShot(true);
        // A coarse timer may fire early, and 300 ms is what tells frames apart.
        h.timer->setTimerType(Qt::PreciseTimer);
        connect(h.timer, &QTimer::timeout, this, [this, socket] { quietTimeout(socket); });
    }
    h.timer->start(m_quietMs);
}

void FrameAssembler::forget(TcpConnection *socket) {
    const auto it = m_held.find(socket);
    if (it == m_held.end()) return;
    // The timer may be the one whose timeout is being handled.
    it->timer->stop();
    it->timer->deleteLater();
    m_held.erase(it);
}

void FrameAssembler::quietTimeout(TcpConnection *socket) {
    const auto it = m_held.find(socket);
    if (it == m_held.end()) return;
    const int k = it->slot;
    const QByteArray frame = it->bytes;
    forget(socket);
    if (!frame.isEmpty()) emit frameReady(socket, k, frame);
}

void FrameAssembler::release(TcpConnection *socket) {
    quietTimeout(socket);
}

} // namespace tulmo
