#include "Dc09Receiver.h"

#include "common/Clock.h"
#include "events/EventLine.h"
#include "events/RecordingRepository.h"
#include "reception/ConnectionRegistry.h"
#include "reception/Data_Modulo2.h"
#include "reception/ReceptionSink.h"
#include "settings/LiveSettings.h"
#include "store/TransactionGuard.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace tulmo {

QString dc09LineAccount(const QString &account) {
    if (account.size() > 6) return QString();
    return account.rightJustified(account.size() <= 4 ? 4 : 6, QLatin1Char('0'));
}

namespace {
// The account as CLIENTES keeps it, widened as an event line's account is when recorded.
QString registryAccount(const QString &lineAccount) {
    return lineAccount.size() < 6 ? QStringLiteral("00") + lineAccount : lineAccount;
}
} // namespace

QString Dc09Receiver::Sender::text() const {
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    const QString a = v4 ? QHostAddress(ip4).toString() : address.toString();
    return (tcp ? QStringLiteral("TCP ") : QStringLiteral("UDP ")) + a + QLatin1Char(':') +
           QString::number(port) + QLatin1Char(',') + QString::number(slot);
}

Dc09Receiver::Dc09Receiver(DM1 &dm, ConnectionRegistry &registry, ReceptionSink &sink,
                           const Clock &clock, const LiveSettings &settings, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_registry(registry)
    , m_sink(sink)
    , m_clock(clock)
    , m_settings(settings)
    , m_keys(dm.database().primary()) {
    m_keys.load();
    for (int k = 1; k <= DM1::kSlots; ++k) {
        connect(m_dm.slot(k).udpSocket, &QUdpSocket::readyRead, this,
                [this, k] { readDatagrams(k); });
    }
}

void Dc09Receiver::takeTcp(TcpConnection *socket, int k, const QByteArray &frame) {
    if (!socket) return;
    Sender from;
    from.slot = k;
    from.address = socket->peerAddress();
    from.port = socket->peerPort();
    from.socket = socket;
    from.tcp = true;
    handle(frame, from);
}

void Dc09Receiver::readDatagrams(int k) {
    QUdpSocket *udp = m_dm.validSlot(k) ? m_dm.slot(k).udpSocket : nullptr;
    if (!udp) return;
    // A flood is read in passes, so replies, recording and the window keep their turns.
    for (int n = 0; n < kDatagramsPerPass; ++n) {
        if (!udp->hasPendingDatagrams()) return;
        const QNetworkDatagram d = udp->receiveDatagram(kMaxDatagram + 1);
        if (!d.isValid()) continue;
        Sender from;
        from.slot = k;
        from.address = d.senderAddress();
        from.port = quint16(d.senderPort());
        handle(d.data(), from);
    }
    if (udp->hasPendingDatagrams())
        QTimer::singleShot(0, this, [this, k] { readDatagrams(k); });
}

void Dc09Receiver::monitor(const Sender &from, const QString &text) {
    m_dm.portMonitor().append(from.slot,
                              QStringLiteral("DC-09 ") + from.text() + QLatin1Char(':') + text);
}

void Dc09Receiver::handle(const QByteArray &frame, const Sender &from) {
    using S = Dc09Codec::Status;
    Dc09Message m;
    const S status = Dc09Codec::decode(
        frame, [this](const QString &a) { return m_keys.keyFor(a); }, &m);
    // What was received, as received: an encrypted message shows only its ciphertext.
    const QString shown = QString::fromLatin1(frame).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    if (status != S::Ok) {
        monitor(from, shown + QStringLiteral(" (") + Dc09Codec::statusText(status) +
                          QLatin1Char(')'));
    } else {
        monitor(from, shown);
    }
    const QDateTime now = m_clock.now();
    switch (status) {
    case S::NotDc09:
    case S::BadLength:
    case S::BadCrc:
    case S::BadHeader:
        return;
    case S::Unsupported:
    case S::BadData:
        answer(from, Dc09Codec::duh(m), false);
        return;
    case S::NoKey:
    case S::Undecryptable:
    case S::NoTimestamp:
        answer(from, Dc09Codec::nak(now), false);
        return;
    case S::Ok:
        break;
    }
    if (m.timestamp.isValid() && !Dc09Codec::withinWindow(m.timestamp, now)) {
        monitor(from, QStringLiteral("data e hora fora da janela: ") +
                          Dc09Codec::timestampText(m.timestamp));
        answer(from, Dc09Codec::nak(now), false);
        return;
    }
    const QString conta = dc09LineAccount(m.account);
    if (conta.isEmpty()) {
        monitor(from, QStringLiteral("conta com mais de 6 dígitos: ") + m.account);
        answer(from, Dc09Codec::duh(m), false);
        return;
    }
    const QByteArray ack =
        Dc09Codec::ack(m, m.encrypted ? m_keys.keyFor(m.account) : QByteArray(), now);
    if (m.token == QLatin1String("NULL")) {
        // A link test with the account 0 names nobody; any other is the account alive.
        if (conta.count(QLatin1Char('0')) != conta.size()) {
            if (!markSignOfLife(registryAccount(conta))) return;
        }
        noteSender(from, m, false);
        answer(from, ack, false);
        return;
    }
    if (queueEvents(m, from, ack)) noteSender(from, m, true);
}

bool Dc09Receiver::queueEvents(const Dc09Message &m, const Sender &from, const QByteArray &ack) {
    const QList<Dc09Event> events = Dc09Events::fromMessage(m);
    if (events.isEmpty()) {
        monitor(from, QStringLiteral("nenhum evento legível nos dados"));
        answer(from, Dc09Codec::duh(m), false);
        return false;
    }
    const QDateTime now = m_clock.now();
    const QString key = m.account + QLatin1Char('|') + m.sequence + QLatin1Char('|') + m.token +
                        QLatin1Char('|') + m.data + QLatin1Char('|') + m.extended.join(u'|');
    if (!seenRecently(key, now)) {
        for (const Dc09Event &e : events) {
            // Not durable, not acknowledged: the panel repeats it.
            if (m_sink.stageLine(eventLine(m, e, from.slot)) == ReceptionSink::QueueResult::Failed)
                return false;
        }
        remember(key, now);
    }
    // The answer leaves once the lines (this message's, or the first copy's) are on disk.
    answer(from, ack, true);
    return true;
}

void Dc09Receiver::answer(const Sender &to, const QByteArray &bytes, bool onlyIfDurable) {
    // Every answer waits for the same flush, so a sender's answers leave in the order of its
    // messages, an ACK never before the lines it acknowledges.
    const QPointer<Dc09Receiver> self(this);
    m_sink.whenDurable([self, to, bytes, onlyIfDurable](bool durable) {
        if (self && (durable || !onlyIfDurable)) self->respond(to, bytes);
    });
}

QString Dc09Receiver::eventLine(const Dc09Message &m, const Dc09Event &e, int k) const {
    QDateTime t = m_clock.now();
    // " Data dos eventos ": the panel's own time when it sent one.
    if (m_settings.eventTimeSource() == LiveSettings::EventTimeSource::FromReceiver &&
        m.timestamp.isValid())
        t = m.timestamp.toLocalTime();
    const QString d = eventline::shortDate(t.date());
    const QString dt = d.size() > 8 ? d.left(6) + d.mid(8, 2) : d;
    const QString ln = m.linePrefix.isEmpty() ? QStringLiteral("0") : m.linePrefix.right(1);
    return eventline::build(QString::number(k).rightJustified(2, QLatin1Char('0')), ln,
                            dc09LineAccount(m.account), e.particao, e.codigo, e.zona, dt,
                            eventline::shortTime(t.time()), QStringLiteral("Não Identificado"));
}

bool Dc09Receiver::markSignOfLife(const QString &conta) {
    QSqlDatabase db = m_dm.database().primary();
    TransactionGuard transaction(db);
    RecordingRepository repo(db);
    if (!transaction.begun() || !repo.markSignOfLife(conta, m_clock.now()) ||
        !transaction.commit())
        return false;
    emit signOfLife(conta);
    return true;
}

void Dc09Receiver::respond(const Sender &to, const QByteArray &bytes) {
    if (to.tcp) {
        // A connection that has gone meanwhile gets nothing; its panel repeats elsewhere.
        if (to.socket) m_registry.send(to.socket.data(), bytes);
        return;
    }
    QUdpSocket *udp = m_dm.validSlot(to.slot) ? m_dm.slot(to.slot).udpSocket : nullptr;
    if (udp) udp->writeDatagram(bytes, to.address, to.port);
}

void Dc09Receiver::noteSender(const Sender &from, const Dc09Message &m, bool event) {
    const QDateTime now = m_clock.now();
    int r = -1;
    if (from.tcp) {
        r = m_registry.rowOf(from.socket.data());
        if (r < 0) return;
        m_registry.setAccount(r, m.account);
    } else {
        bool v4 = false;
        const quint32 ip4 = from.address.toIPv4Address(&v4);
        r = m_registry.datagramSenderRow(
            from.slot, v4 ? QHostAddress(ip4).toString() : from.address.toString(), m.account,
            now);
    }
    m_registry.setKeepAlive(r, now);
    m_registry.setLastPacket(r, m.sequence);
    if (event) m_registry.setLastEvent(r, now);
}

bool Dc09Receiver::seenRecently(const QString &key, const QDateTime &now) {
    while (!m_seenOrder.isEmpty() && m_seenOrder.head().second.secsTo(now) > kRepeatWindowSecs) {
        const auto old = m_seenOrder.dequeue();
        if (m_seen.value(old.first) == old.second) m_seen.remove(old.first);
    }
    const auto it = m_seen.constFind(key);
    return it != m_seen.cend() && it->secsTo(now) <= kRepeatWindowSecs;
}

void Dc09Receiver::remember(const QString &key, const QDateTime &now) {
    // Bounded, so a flood of distinct messages cannot grow it without end.
    static constexpr int kMaxRemembered = 200000;
    if (m_seenOrder.size() >= kMaxRemembered) m_seen.remove(m_seenOrder.dequeue().first);
    m_seen.insert(key, now);
    m_seenOrder.enqueue({key, now});
}

} // namespace tulmo
