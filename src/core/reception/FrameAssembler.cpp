#include "FrameAssembler.h"

#include "core/common/Clock.h"
#include "core/events/ReceiverFrame.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/TcpConnection.h"

#include <QPointer>
#include <QTimer>

namespace tulmo {

namespace {

using receiverframe::Shape;

constexpr char kLf = '\n', kCr = '\r';
// <LF>, four digits of CRC, four of length, <CR>: what a DC-09 message holds besides its body.
constexpr qsizetype kDc09Overhead = 10;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The whole size of the DC-09 message that m begins with: 0 while its header has not all come,
// -1 when what came is no DC-09 header (such a message ends at its <CR>, as it always did).
qsizetype dc09Size(const QByteArray &m) {
    const qsizetype header = std::min<qsizetype>(m.size(), 9);
    for (qsizetype i = 1; i < header; ++i)
        if (hexValue(m.at(i)) < 0 || (i == 5 && m.at(i) != '0')) return -1;
    if (m.size() < 9) return 0;
    return kDc09Overhead + hexValue(m.at(6)) * 256 + hexValue(m.at(7)) * 16 + hexValue(m.at(8));
}

// Whether bytes begin with beats ("@") and then a whole receiver frame ended by its 0x14.
bool followedByWholeFrame(const QByteArray &bytes) {
    qsizetype at = 0;
    while (at < bytes.size() && bytes.at(at) == '@')
        ++at;
    if (at >= bytes.size() || !receiverframe::startsFrame(bytes.at(at))) return false;
    const qsizetype end = bytes.indexOf(receiverframe::kEnd, at);
    if (end < 0) return false;
    const Shape s = receiverframe::shapeOf(bytes.mid(at, end - at));
    return s == Shape::Event || s == Shape::Heartbeat;
}

} // namespace

FrameAssembler::FrameAssembler(DM1 &dm, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_clock(clock) {}

FrameAssembler::~FrameAssembler() = default;

qsizetype FrameAssembler::heldBytes(const TcpConnection *socket) const {
    const auto it = m_held.constFind(const_cast<TcpConnection *>(socket));
    return it == m_held.cend() ? 0 : it->bytes.size();
}

void FrameAssembler::take(TcpConnection *socket, int k, const QByteArray &bytes) {
    QByteArray data = bytes;
    QDateTime since = m_clock.now();
    // Module programming data is binary and belongs to the exchange that asked for it; only
    // the device the exchange talks to sends it.
    if (m_dm.validSlot(k) && m_dm.slot(k).inTransfer(socket)) {
        if (m_held.contains(socket)) data.prepend(unhold(socket).bytes);
        emit frameReady(socket, k, data);
        return;
    }
    if (m_held.contains(socket)) {
        const Held h = unhold(socket);
        if (elapsedMs(h) >= kLimitMs) {
            settle(socket, h, End::Limit);
        } else if (h.bytes.startsWith(kLf) || receiverframe::continues(h.bytes, bytes)) {
            // (A DC-09 message goes on until its length is complete.)
            data.prepend(h.bytes);
            since = h.since;
        } else {
            // A read that cannot go on with what is held begins anew.
            settle(socket, h, End::Release);
        }
    }
    split(socket, k, data, since);
}

void FrameAssembler::split(TcpConnection *socket, int k, const QByteArray &data,
                           const QDateTime &since) {
    const QPointer<TcpConnection> guard(socket);
    qsizetype from = 0;
    while (from < data.size()) {
        // The handling of a frame may have closed this connection: what follows has no row
        // to answer to.
        if (!guard || !socket->connected()) return;
        const char first = data.at(from);
        const QByteArray rest = data.mid(from);
        if (first == kLf) {
            const qsizetype size = dc09Size(rest);
            const qsizetype cr = size < 0 ? rest.indexOf(kCr) : -1;
            if (size > 0 && rest.size() >= size) {
                emit frameReady(socket, k, rest.left(size));
                from += size;
            } else if (cr >= 0) {
                emit frameReady(socket, k, rest.left(cr + 1));
                from += cr + 1;
            } else if (rest.size() >= kMaxFrame) {
                emit frameReady(socket, k, rest);
                return;
            } else {
                hold(socket, k, rest, since);
                return;
            }
            continue;
        }
        if (first == kEnd) {
            // The 0x14 of a frame taken without it, once quiet: the device does send it.
            m_endsFrames.insert(socket);
            ++from;
            continue;
        }
        // A module's heartbeat "@" may share a read with the whole frame that follows it: the
        // beat is a frame of its own, so the frame is answered and recorded as if it had come
        // alone. Anything else after an "@" stays with it, as it always did.
        if (first == '@' && followedByWholeFrame(rest.mid(1))) {
            emit frameReady(socket, k, QByteArray(1, '@'));
            ++from;
            continue;
        }
        if (!receiverframe::startsFrame(first)) {
            emit frameReady(socket, k, rest);
            return;
        }
        if (const qsizetype end = rest.indexOf(kEnd); end >= 0) {
            const Shape s = receiverframe::shapeOf(rest.left(end));
            if (s == Shape::Event || s == Shape::Heartbeat) m_endsFrames.insert(socket);
            emit frameReady(socket, k, rest.left(end + 1));
            from += end + 1;
            continue;
        }
        const Shape s = receiverframe::shapeOf(rest);
        // What can never become a frame is shown and refused now; so is a heartbeat that
        // never ends.
        if (s == Shape::Invalid || rest.size() >= kMaxFrame) {
            emit frameReady(socket, k, rest);
            return;
        }
        hold(socket, k, rest, since);
        return;
    }
}

bool FrameAssembler::whole(const TcpConnection *socket, const QByteArray &held, End end) const {
    if (held.startsWith(kLf)) return dc09Size(held) < 0 && end != End::Limit;
    const Shape s = receiverframe::shapeOf(held);
    if (s == Shape::Heartbeat) return true;
    if (s != Shape::Event) return false;
    // A device that ends its frames with 0x14 has not ended this one yet, unless it is done
    // with the connection or has moved on to another frame.
    return end == End::Release || !m_endsFrames.contains(socket);
}

void FrameAssembler::hold(TcpConnection *socket, int k, const QByteArray &bytes,
                          const QDateTime &since) {
    Held &h = m_held[socket];
    h.slot = k;
    h.bytes = bytes;
    h.since = since;
    h.handle = socket ? socket->socketDescriptor() : -1;
    if (!h.timer) {
        h.timer = new QTimer(this);
        h.timer->setSingleShot(true);
        // A coarse timer may fire early, and 300 ms is what tells frames apart.
        h.timer->setTimerType(Qt::PreciseTimer);
        connect(h.timer, &QTimer::timeout, this, [this, socket] { quietTimeout(socket); });
    }
    h.timer->start(m_quietMs);
}

FrameAssembler::Held FrameAssembler::unhold(TcpConnection *socket) {
    const auto it = m_held.find(socket);
    if (it == m_held.end()) return {};
    Held h = *it;
    // The timer may be the one whose timeout is being handled.
    h.timer->stop();
    h.timer->deleteLater();
    h.timer = nullptr;
    m_held.erase(it);
    return h;
}

qint64 FrameAssembler::elapsedMs(const Held &h) const {
    return std::max<qint64>(0, h.since.msecsTo(m_clock.now()));
}

void FrameAssembler::settle(TcpConnection *socket, const Held &h, End end) {
    if (h.bytes.isEmpty()) return;
    if (whole(socket, h.bytes, end)) {
        emit frameReady(socket, h.slot, h.bytes);
        return;
    }
    m_dm.portMonitor().append(
        QStringLiteral("TCP %1,%2: quadro incompleto descartado: ").arg(h.handle).arg(h.slot) +
        QString::fromLatin1(h.bytes));
}

void FrameAssembler::quietTimeout(TcpConnection *socket) {
    const auto it = m_held.find(socket);
    if (it == m_held.end()) return;
    const qint64 elapsed = elapsedMs(*it);
    if (whole(socket, it->bytes, End::Quiet) || elapsed >= kLimitMs) {
        settle(socket, unhold(socket), elapsed >= kLimitMs ? End::Limit : End::Quiet);
        return;
    }
    // Not whole yet: it waits for more bytes until the limit.
    it->timer->start(int(std::clamp<qint64>(kLimitMs - elapsed, 1, kLimitMs)));
}

void FrameAssembler::release(TcpConnection *socket) {
    if (m_held.contains(socket)) settle(socket, unhold(socket), End::Release);
    m_endsFrames.remove(socket);
}

} // namespace tulmo
