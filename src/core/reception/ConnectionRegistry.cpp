#include "ConnectionRegistry.h"

#include "core/common/Clock.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/SocketMultiplexer.h"

#include <QHostAddress>
#include <QHostInfo>

namespace tulmo {

ConnectionRegistry::ConnectionRegistry(DM1 &dm, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_clock(clock)
    , m_mux(new SocketMultiplexer(this))
    , m_frames(dm, clock) {
    connect(&m_frames, &FrameAssembler::frameReady, this, &ConnectionRegistry::frameReceived);
    // The replies of this turn of the event loop leave together, once it is done.
    m_immediateReplies.setSingleShot(true);
    m_immediateReplies.setInterval(0);
    connect(&m_immediateReplies, &QTimer::timeout, this, &ConnectionRegistry::sendImmediateReplies);
    connect(&m_replies, &ReplyQueue::replyQueued, this, [this](int i) {
        if (replyDelay(m_replies.at(i).slot) == 0 && !m_immediateReplies.isActive())
            m_immediateReplies.start();
    });
    // The drop waits until the frame that overflowed is handled: the device link still works
    // on that connection's row.
    connect(&m_replies, &ReplyQueue::overflowed, this, [this](TcpConnection *socket) {
        QPointer<TcpConnection> guard(socket);
        QMetaObject::invokeMethod(
            this, [this, guard] { dropOverflowing(guard.data()); }, Qt::QueuedConnection);
    });
    // SocketServer1Accept, shared by the ten listeners.
    for (int k = 1; k <= DM1::kSlots; ++k) {
        connect(m_dm.slot(k).socketServer, &TcpListener::connectionReceived, this,
                [this, k](qintptr descriptor) { SocketServerAccept(k, descriptor); });
    }
}

ConnectionRegistry::~ConnectionRegistry() = default;

int ConnectionRegistry::rowOf(const TcpConnection *socket) const {
    if (!socket) return -1;
    const int r = m_rowOf.value(socket, -1);
    return r >= 0 && r < m_rows.size() && m_rows[r].socket == socket ? r : -1;
}

void ConnectionRegistry::reindex() {
    m_rowOf.clear();
    for (int r = 0; r < m_rows.size(); ++r)
        if (TcpConnection *c = m_rows[r].socket.data(); c && c->connected()) m_rowOf.insert(c, r);
}

void ConnectionRegistry::setAccount(int r, const QString &conta) {
    m_rows[r].conta = conta;
    emit rowChanged(r);
}
void ConnectionRegistry::setImei(int r, const QString &imei) {
    countImei(m_rows[r].imei, -1);
    m_rows[r].imei = imei;
    countImei(imei, +1);
    emit rowChanged(r);
}

void ConnectionRegistry::countImei(const QString &imei, int delta) {
    if (imei.isEmpty()) return;
    int &n = m_imeiRows[imei];
    n += delta;
    if (n <= 0) m_imeiRows.remove(imei);
}
void ConnectionRegistry::setLastPacket(int r, const QString &pacote) {
    m_rows[r].lastPacket = pacote;
    emit rowChanged(r);
}
void ConnectionRegistry::setKeepAlive(int r, const QDateTime &t) {
    m_rows[r].keepAlive = t;
    emit rowChanged(r);
}
void ConnectionRegistry::setLastEvent(int r, const QDateTime &t) {
    m_rows[r].lastEvent = t;
    emit rowChanged(r);
}

QList<TcpConnection *> ConnectionRegistry::connections(int k) const {
    if (k < 1 || k > DM1::kSlots) return {};
    return m_connections[size_t(k)];
}

int ConnectionRegistry::connectionCount() const {
    int n = 0;
    for (int k = 1; k <= DM1::kSlots; ++k)
        n += int(m_connections[size_t(k)].size());
    return n;
}

void ConnectionRegistry::SocketServerAccept(int k, qintptr descriptor) {
    auto *socket = new TcpConnection(descriptor, *m_mux, this);
    if (!socket->connected()) {
        delete socket;
        return;
    }
    auto &list = m_connections[size_t(k)];
    list.append(socket);
    // Connected first, so the row is alive before its frame is handled.
    connect(socket, &TcpConnection::dataReceived, this, [this, socket] { markAlive(socket); });
    // Reads become frames there; a client error or a close ends that connection only, the
    // listener and its other devices stay.
    connect(socket, &TcpConnection::dataReceived, this,
            [this, socket, k](const QByteArray &bytes) { m_frames.take(socket, k, bytes); });
    connect(socket, &TcpConnection::disconnected, this,
            [this, socket, k] { connectionClosed(socket, k); });

    const int n = int(list.size());
    // The only connection of this listener: rows of its slot are left from connections
    // lost unnoticed.
    if (n == 1) dropRowsOfSlot(k);

    send(socket, QByteArrayLiteral("&"));
    const QString dotted = showPeer(socket);

    const QDateTime now = m_clock.now();
    Row l;
    l.keepAlive = now;
    l.server = k;
    l.socketIndex = n - 1;
    l.connection = socket->socketDescriptor();
    l.connectedAt = now;
    l.socket = socket;
    const int r = int(m_rows.size());
    emit rowAboutToBeAdded(r);
    m_rows.append(l);
    emit rowAdded(r);
    m_rowOf.insert(socket, r);

    lookUpPeerName(socket, dotted);
    emit connectionAccepted(socket, k);
}

int ConnectionRegistry::datagramSenderRow(int k, const QString &address, const QString &conta,
                                          const QDateTime &now) {
    for (int r = 0; r < m_rows.size(); ++r) {
        const Row &l = m_rows[r];
        if (l.datagram && l.server == k && l.remoteIp == address && l.conta == conta) return r;
    }
    Row l;
    l.keepAlive = now;
    l.conta = conta;
    l.server = k;
    l.remoteIp = address;
    l.socketIndex = int(m_rows.size());
    l.connection = 0;
    l.connectedAt = now;
    l.datagram = true;
    const int r = int(m_rows.size());
    emit rowAboutToBeAdded(r);
    m_rows.append(l);
    emit rowAdded(r);
    return r;
}

void ConnectionRegistry::closeAll() {
    for (int k = 1; k < int(m_connections.size()); ++k) {
        dropRowsOfSlot(k);
        const QList<TcpConnection *> open = m_connections[size_t(k)]; // a close removes it
        for (TcpConnection *c : open)
            closeConnection(c);
    }
    m_replies.clear();
}

void ConnectionRegistry::dropRowsOfSlot(int k) {
    bool removed = false;
    for (int r = int(m_rows.size()) - 1; r >= 0; --r) {
        if (m_rows[r].server == k && !m_rows[r].datagram) {
            m_replies.removeFor(m_rows[r].socket.data());
            closeConnection(m_rows[r].socket);
            countImei(m_rows[r].imei, -1);
            emit rowAboutToBeRemoved(r);
            m_rows.removeAt(r);
            emit rowRemoved(r);
            removed = true;
        }
    }
    if (removed) {
        renumber();
        reindex();
    }
}

QString ConnectionRegistry::showPeer(TcpConnection *socket) {
    const QHostAddress peer = socket->peerAddress();
    QString dotted = peer.toString();
    bool v4 = false;
    const quint32 ip4 = peer.toIPv4Address(&v4);
    if (v4) dotted = QHostAddress(ip4).toString();
    m_lastPeer = dotted;
    emit peerShown(dotted);
    return dotted;
}

void ConnectionRegistry::lookUpPeerName(TcpConnection *socket, const QString &dotted) {
    // The peer's name comes from the resolver's own threads; the row shows it when it
    // arrives and stays empty when the address has no name.
    QPointer<TcpConnection> guard(socket);
    QHostInfo::lookupHost(dotted, this, [this, guard, dotted](const QHostInfo &info) {
        if (!guard || info.error() != QHostInfo::NoError) return;
        const QString name = info.hostName();
        if (name.isEmpty() || name == dotted) return;
        const int row = rowOf(guard.data());
        if (row < 0) return;
        m_rows[row].remoteIp = name;
        emit rowChanged(row);
    });
}

void ConnectionRegistry::markAlive(const TcpConnection *socket) {
    const int r = rowOf(socket);
    if (r >= 0) setKeepAlive(r, m_clock.now());
}

void ConnectionRegistry::connectionClosed(TcpConnection *socket, int k) {
    // A frame the device sent without its end is handled while its row still knows it.
    m_frames.release(socket);
    if (const int r = rowOf(socket); r >= 0) {
        m_rows[r].disconnectedAt = m_clock.now();
        emit rowChanged(r);
    }
    // The row stays until the keep-alive expiry; its pointer clears when the connection goes.
    m_connections[size_t(k)].removeOne(socket);
    m_rowOf.remove(socket);
    socket->deleteLater();
}

void ConnectionRegistry::closeConnection(TcpConnection *socket) {
    if (socket) socket->abort();
}

bool ConnectionRegistry::send(TcpConnection *socket, const QByteArray &text) {
    return socket && socket->write(text);
}

void ConnectionRegistry::removeRowAt(int r) {
    m_replies.removeFor(m_rows[r].socket.data());
    countImei(m_rows[r].imei, -1);
    emit rowAboutToBeRemoved(r);
    m_rows.removeAt(r);
    emit rowRemoved(r);
    renumber();
    reindex();
}

void ConnectionRegistry::dropOverflowing(TcpConnection *socket) {
    if (!socket) return;
    closeConnection(socket);
    // Found by its connection after the close: what the device left unfinished was handled
    // while closing, and that may have moved rows.
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].socket == socket) {
            removeRowAt(r);
            return;
        }
    }
    m_replies.removeFor(socket);
}

void ConnectionRegistry::setSocketIndex(int r) {
    if (m_rows[r].socketIndex == r) return;
    m_rows[r].socketIndex = r;
    emit socketIndexChanged(r);
}

void ConnectionRegistry::renumber() {
    for (int r = 0; r < m_rows.size(); ++r)
        setSocketIndex(r);
}

int ConnectionRegistry::removeEarlierConnection(const QString &id, int r) {
    // Most identifications are of a device with no other row: known without a walk.
    const int rowsWithId = m_imeiRows.value(id);
    if (rowsWithId == 0 || (rowsWithId == 1 && r >= 0 && r < m_rows.size() && m_rows[r].imei == id))
        return r;
    int previous = -1;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (i != r && m_rows[i].imei == id) {
            previous = i;
            break;
        }
    }
    if (previous < 0) return r;
    // The whole removal runs inside this handler, so no tick sees a half-updated table.
    QPointer<TcpConnection> old = m_rows[previous].socket;
    closeConnection(old);
    removeRowAt(previous);
    return previous < r ? r - 1 : r;
}

bool ConnectionRegistry::closeDevice(const QString &imei) {
    if (imei.isEmpty()) return false;
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].imei != imei) continue;
        QPointer<TcpConnection> socket = m_rows[r].socket;
        closeConnection(socket);
        removeRowAt(r);
        return true;
    }
    return false;
}

int ConnectionRegistry::replyDelay(int slot) const {
    return m_dm.validSlot(slot) ? m_dm.slot(slot).tempoResposta : 0;
}

// Every reply whose slot's delay has passed leaves in this tick, none before its delay.
void ConnectionRegistry::sendDueReplies(const QDateTime &now) {
    sendReplies([&](const ReplyQueue::Reply &r) {
        // The whole time since queueing counts, hours included.
        return r.hora.secsTo(now) >= replyDelay(r.slot);
    });
}

// A connection's replies share its slot's delay, so those of one without a delay all leave
// here, in their order.
void ConnectionRegistry::sendImmediateReplies() {
    if (m_replies.isEmpty()) return;
    sendReplies([&](const ReplyQueue::Reply &r) { return replyDelay(r.slot) <= 0; });
}

void ConnectionRegistry::sendReplies(const std::function<bool(const ReplyQueue::Reply &)> &isDue) {
    const QList<ReplyQueue::Reply> due = m_replies.takeDue(isDue);
    for (const ReplyQueue::Reply &r : due) {
        if (r.identifier.isEmpty()) continue; // a reply to nobody in particular is not sent
        send(targetOf(r), r.text.toLatin1());
    }
}

// The device the reply names, on whatever connection it has now: the one it was queued for
// while that one still carries it, else its row found by identifier.
TcpConnection *ConnectionRegistry::targetOf(const ReplyQueue::Reply &reply) {
    if (TcpConnection *s = reply.socket.data()) {
        const auto it = m_rowOf.constFind(s);
        if (it != m_rowOf.cend() && m_rows[*it].imei == reply.identifier) {
            setSocketIndex(*it);
            return s;
        }
    }
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].imei == reply.identifier) {
            setSocketIndex(r);
            return m_rows[r].socket.data();
        }
    }
    return reply.socket.data();
}

// Every connection silent past its slot's keep-alive goes in the same tick: after a network
// failure thousands of them are dead at once.
void ConnectionRegistry::expireSilentConnections(const QDateTime &now) {
    // The keep-alive scan rests on the tick whose seconds read 0; the time to identify does not.
    const bool keepAliveScan = now.time().second() != 0;
    // One pass, one sweep of the replies and one renumbering, however many go: thousands of
    // rows may expire together.
    QSet<const TcpConnection *> gone;
    int unknown = 0;
    bool removed = false;
    for (int r = int(m_rows.size()) - 1; r >= 0; --r) {
        const Row &l = m_rows[r];
        const bool unidentified = !l.datagram && !l.known() && l.connectedAt.isValid() &&
                                  l.connectedAt.secsTo(now) >= kIdentifyTimeoutSecs;
        if (unidentified) {
            ++unknown;
        } else {
            if (!keepAliveScan || !l.keepAlive.isValid()) continue;
            const int keepAlive = m_dm.validSlot(l.server) ? m_dm.slot(l.server).tempoKeepAlive : 0;
            // Whole minutes of silence, hours and days included.
            if (l.keepAlive.secsTo(now) / 60 < keepAlive) continue;
        }
        if (l.socket) gone.insert(l.socket.data());
        closeConnection(l.socket);
        countImei(l.imei, -1);
        emit rowAboutToBeRemoved(r);
        m_rows.removeAt(r);
        emit rowRemoved(r);
        removed = true;
    }
    if (unknown > 0)
        m_dm.portMonitor().append(
            unknown == 1
                ? QStringLiteral("1 conexão TCP fechada por não se identificar em %1 s")
                      .arg(kIdentifyTimeoutSecs)
                : QStringLiteral("%1 conexões TCP fechadas por não se identificarem em %2 s")
                      .arg(unknown)
                      .arg(kIdentifyTimeoutSecs));
    if (!removed) return;
    m_replies.removeFor(gone);
    renumber();
    reindex();
}

} // namespace tulmo
