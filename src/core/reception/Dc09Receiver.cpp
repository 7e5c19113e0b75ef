#include "Dc09Receiver.h"

#include "core/common/Clock.h"
#include "core/events/EventLine.h"
#include "core/events/RecordingRepository.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/ReceptionSink.h"
#include "core/settings/LiveSettings.h"
#include "core/store/TransactionGuard.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace tulmo {

QString dc09LineAccount(const QString &account) {
    const QString a = account.toUpper();
    return a.size() > 6 ? a : a.rightJustified(a.size() <= 4 ? 4 : 6, QLatin1Char('0'));
}

namespace {
// The account as CLIENTES keeps it, widened as an event line's account is when recorded.
QString registryAccount(const QString &lineAccount) {
    return lineAccount.size() < 6 ? QStringLiteral("00") + lineAccount : lineAccount;
}

// The account of a clear message that has a key, empty when there is none.
QString keyedInClear(const Dc09Message &m, const QString &dataAccount,
                     const std::function<bool(const QString &)> &hasKey) {
    if (m.encrypted) return QString();
    for (const QString &a : {m.account, dataAccount})
        if (!a.isEmpty() && hasKey(a)) return a;
    return QString();
}

QString eventLineOf(const Dc09Message &m, const Dc09Event &e, int k, const QString &account,
                    const QDateTime &t) {
    const QString d = eventline::shortDate(t.date());
    const QString dt = d.size() > 8 ? d.left(6) + d.mid(8, 2) : d;
    const QString ln = m.linePrefix.isEmpty() ? QStringLiteral("0") : m.linePrefix.right(1).toUpper();
    return eventline::build(QString::number(k).rightJustified(2, QLatin1Char('0')), ln,
                            dc09LineAccount(account), e.particao, e.codigo, e.zona, dt,
                            eventline::shortTime(t.time()), QStringLiteral("Não Identificado"));
}

} // namespace

QString Dc09Receiver::Sender::text() const {
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    const QString a = v4 ? QHostAddress(ip4).toString() : address.toString();
    return (tcp ? QStringLiteral("TCP ") : QStringLiteral("UDP ")) + a + QLatin1Char(':') +
           QString::number(port) + QLatin1Char(',') + QString::number(slot);
}

Dc09Receiver::Dc09Receiver(DM1 &dm, Database &database, ConnectionRegistry &registry,
                           ReceptionSink &sink, const Clock &clock, const LiveSettings &settings,
                           QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_database(database)
    , m_registry(registry)
    , m_sink(sink)
    , m_clock(clock)
    , m_settings(settings)
    , m_keys(database.primary()) {
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
    // A flood is read in passes, so replies, recording and the window keep their turns. The
    // next pass is the socket's own next readyRead: its notifier fires again while a datagram
    // waits, once this pass has read one. Nothing else may read the socket: QUdpSocket takes
    // a readyRead after which no datagram is read as "not taken yet" and turns its notifier
    // off at the next one, for good. A pass of our own that emptied the socket between the
    // wake-up and its readyRead did exactly that, and the port was never read again.
    for (int n = 0; n < kDatagramsPerPass && udp->hasPendingDatagrams(); ++n) {
        const QNetworkDatagram d = udp->receiveDatagram(kMaxDatagram + 1);
        if (!d.isValid()) continue;
        Sender from;
        from.slot = k;
        from.address = d.senderAddress();
        from.port = quint16(d.senderPort());
        handle(d.data(), from);
    }
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
        return; // the panel repeats it
    case S::Response:
        return; // answering another receiver's answer would start an endless exchange
    case S::BadHeader:
    case S::Unsupported:
    case S::BadData:
        // A key makes any clear message for its account a NAK, understood or not.
        if (keyedInClear(m, QString(), [this](const QString &a) { return hasKey(a); }).isEmpty()) {
            answer(from, Dc09Codec::duh(m), false);
            return;
        }
        [[fallthrough]];
    case S::BadTimestamp:
    case S::NoKey:
    case S::Undecryptable:
    case S::NoTimestamp:
        answer(from, Dc09Codec::nak(now, m.crcForm), false);
        return;
    case S::Ok:
        take(m, from);
        return;
    }
}


Dc09Intake dc09Intake(const Dc09Message &m, int slot, const QDateTime &now, bool panelTime,
                      const std::function<bool(const QString &)> &hasKey) {
    using A = Dc09Intake::Answer;
    Dc09Intake in;
    const Dc09Report report = Dc09Events::read(m);
    if (const QString keyed = keyedInClear(m, report.account, hasKey); !keyed.isEmpty()) {
        // The key is there to make a spoofed alarm, or a spoofed link test keeping a cut
        // panel "alive", impossible: a clear message for the account is not taken.
        in.answer = A::Nak;
        in.why = QStringLiteral("conta %1 tem chave de criptografia: mensagem sem criptografia "
                                "recusada")
                     .arg(keyed);
        return in;
    }
    if (m.timestamp.isValid() && !Dc09Codec::withinWindow(m.timestamp, now)) {
        in.answer = A::Nak;
        in.why = QStringLiteral("data e hora fora da janela: ") + Dc09Codec::timestampText(m.timestamp);
        return in;
    }
    // The header's account is the one the panel is answered for; the data block's stands in
    // when the header names none.
    in.account = m.account.isEmpty() ? report.account : m.account;
    if (in.account.isEmpty()) {
        in.why = QStringLiteral("mensagem sem conta");
        return in;
    }
    if (m.token == QLatin1String("NULL")) {
        // A link test records nothing, but names an account the registry can hold.
        if (dc09LineAccount(in.account).size() > 6) {
            in.why = QStringLiteral("conta com mais de 6 dígitos: ") + in.account;
            return in;
        }
        in.answer = A::Ack;
        return in;
    }
    if (report.events.isEmpty()) {
        in.why = QStringLiteral("nenhum evento legível nos dados");
        return in;
    }
    // " Data dos eventos ": the panel's own time when it sent one.
    const QDateTime t = panelTime && m.timestamp.isValid() ? m.timestamp.toLocalTime() : now;
    // What the panel is told was received is what the recorder stores: a line it would turn
    // away is refused here, before any of the message's lines is queued.
    for (const Dc09Event &e : report.events) {
        in.lines << eventLineOf(m, e, slot, in.account, t);
        const QString why = eventline::unstorableReason(in.lines.last());
        if (!why.isEmpty()) {
            in.why = QStringLiteral("evento que não pode ser gravado (%1): ").arg(why) +
                     in.lines.last();
            in.lines.clear();
            return in;
        }
    }
    in.answer = A::Ack;
    return in;
}

bool Dc09Receiver::hasKey(const QString &account) const {
    return !m_keys.keyFor(account).isEmpty();
}

void Dc09Receiver::take(const Dc09Message &m, const Sender &from) {
    using A = Dc09Intake::Answer;
    const QDateTime now = m_clock.now();
    const Dc09Intake in = dc09Intake(
        m, from.slot, now,
        m_settings.eventTimeSource() == LiveSettings::EventTimeSource::FromReceiver,
        [this](const QString &a) { return hasKey(a); });
    if (in.answer != A::Ack) {
        monitor(from, in.why);
        answer(from, in.answer == A::Nak ? Dc09Codec::nak(now, m.crcForm) : Dc09Codec::duh(m),
               false);
        return;
    }
    const QByteArray ack =
        Dc09Codec::ack(m, m.encrypted ? m_keys.keyFor(m.account) : QByteArray(), now);
    if (in.lines.isEmpty()) {
        // A link test with the account 0 names nobody; any other is the account alive.
        const QString conta = dc09LineAccount(in.account);
        if (conta.count(QLatin1Char('0')) != conta.size()) {
            if (!markSignOfLife(registryAccount(conta))) return;
        }
        noteSender(from, m, in.account, false);
        answer(from, ack, false);
        return;
    }
    if (queueLines(m, in, ack, from)) noteSender(from, m, in.account, true);
}

bool Dc09Receiver::queueLines(const Dc09Message &m, const Dc09Intake &in, const QByteArray &ack,
                              const Sender &from) {
    const QString &account = in.account;
    const QDateTime now = m_clock.now();
    const QString key = account.toUpper() + QLatin1Char('|') + m.sequence + QLatin1Char('|') +
                        m.token + QLatin1Char('|') + m.data + QLatin1Char('|') +
                        m.extended.join(u'|');
    const bool fresh = !seenRecently(key, now);
    if (fresh) {
        for (const QString &line : in.lines) {
            // Not durable, not acknowledged: the panel repeats it.
            if (m_sink.stageLine(line) == ReceptionSink::QueueResult::Failed) return false;
        }
        remember(key, now);
    }
    // The answer leaves once the lines (this message's, or the first copy's) are on disk. A
    // write that failed took them out of the queue: the repeat is then no copy.
    const QPointer<Dc09Receiver> self(this);
    answer(from, ack, true, [self, key, fresh, now] {
        if (self && fresh && self->m_seen.value(key) == now) self->m_seen.remove(key);
    });
    return true;
}


void Dc09Receiver::answer(const Sender &to, const QByteArray &bytes, bool onlyIfDurable,
                          std::function<void()> notDurable) {
    // Every answer waits for the same flushes, so a sender's answers leave in the order of its
    // messages, an ACK never before the lines it acknowledges.
    const QPointer<Dc09Receiver> self(this);
    m_sink.whenDurable([self, to, bytes, onlyIfDurable, notDurable](bool durable) {
        if (!self) return;
        if (durable || !onlyIfDurable) self->respond(to, bytes);
        if (!durable && notDurable) notDurable();
    });
}

bool Dc09Receiver::markSignOfLife(const QString &conta) {
    QSqlDatabase db = m_database.primary();
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

void Dc09Receiver::noteSender(const Sender &from, const Dc09Message &m, const QString &account,
                              bool event) {
    const QDateTime now = m_clock.now();
    int r = -1;
    if (from.tcp) {
        r = m_registry.rowOf(from.socket.data());
        if (r < 0) return;
        m_registry.setAccount(r, account);
    } else {
        bool v4 = false;
        const quint32 ip4 = from.address.toIPv4Address(&v4);
        r = m_registry.datagramSenderRow(
            from.slot, v4 ? QHostAddress(ip4).toString() : from.address.toString(), account, now);
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
