#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

#include "core/reception/Dc09Events.h"
#include "core/reception/Dc09Keys.h"
#include "core/reception/Dc09Message.h"
#include "core/reception/TcpConnection.h"

namespace tulmo {

class Clock;

// What the receiver makes of a message read whole, before anything is queued: its answer,
// and for an ACK the event lines it stands for, each one the recorder stores.
struct Dc09Intake {
    enum class Answer { Ack, Nak, Duh };
    Answer answer = Answer::Duh;
    QString why;       // for the port monitor, when the answer is no ACK
    QString account;   // the account the message is taken for
    QStringList lines; // none for a link test ("NULL")
};

// panelTime: event lines carry the message's timestamp when it has one (" Data dos
// eventos "), otherwise now; hasKey: whether an account has an AES key.
Dc09Intake dc09Intake(const Dc09Message &m, int slot, const QDateTime &now, bool panelTime,
                      const std::function<bool(const QString &)> &hasKey);
class ConnectionRegistry;
class DM1;
class Database;
class LiveSettings;
class ReceptionSink;

// The SIA DC-09 receiver: reads the messages of a "UDP/IP" slot's datagrams and those that
// arrive on a "TCP/IP" slot's connections, turns their events into event lines of the queue,
// and answers each message as the standard says:
//  - "ACK" (encrypted when the message was) only once the event lines are durable in the
//    queue file; a repeated message (same account, sequence and content within
//    kRepeatWindowSecs) is acknowledged again and recorded once;
//  - "NAK" with the station's time when the timestamp lies outside the window or cannot be
//    read, or the encryption cannot be read (no key, wrong key), so the panel sets its clock
//    or its key; and for a clear message naming an account that has a key;
//  - "DUH" for a header, token or data it does not understand, or events the recorder
//    would refuse (an account too long to record among them);
//  - nothing for a message with a wrong length or CRC, for a receiver's own answer, or for
//    what is no DC-09 at all: the sender repeats it, and the port monitor shows one line.
// So a message whose CRC and length are right always gets ACK, NAK or DUH.
// A "NULL" message is the account's sign of life (ULTIMO_EVENTO) and records no event. Any
// account is taken and recorded, registered or not, as from every other receiver; only an
// encrypted one needs its key, and an account with a key takes only encrypted messages.
class Dc09Receiver : public QObject {
    Q_OBJECT
public:
    static constexpr int kRepeatWindowSecs = 300;
    // The largest datagram read: a DC-09 message is at most 4,105 bytes.
    static constexpr qint64 kMaxDatagram = Dc09Codec::kMaxBody + Dc09Codec::kFrameOverhead;
    // Datagrams read in one pass before the event loop gets its turn.
    static constexpr int kDatagramsPerPass = 256;

    Dc09Receiver(DM1 &dm, Database &database, ConnectionRegistry &registry, ReceptionSink &sink, const Clock &clock,
                 const LiveSettings &settings, QObject *parent = nullptr);

    Dc09Keys &keys() { return m_keys; }

    // One DC-09 message read from a TCP connection of slot k.
    void takeTcp(TcpConnection *socket, int k, const QByteArray &frame);
    // The waiting datagrams of slot k's UDP socket.
    void readDatagrams(int k);

    // Whether bytes begin like a DC-09 message.
    static bool looksLikeDc09(const QByteArray &bytes) { return bytes.startsWith('\n'); }

signals:
    // The account gave a sign of life without an event ("NULL").
    void signOfLife(const QString &conta);

private:
    struct Sender {
        int slot = 0;
        QHostAddress address;
        quint16 port = 0;
        QPointer<TcpConnection> socket; // the connection while it lasts
        bool tcp = false;
        QString text() const;
    };

    void handle(const QByteArray &frame, const Sender &from);
    // A message read whole: recorded, or a sign of life, and answered.
    void take(const Dc09Message &m, const Sender &from);
    bool hasKey(const QString &account) const;
    // Queues the lines an ACK stands for and answers once they are durable; false when the
    // queue failed (no answer then, the panel repeats).
    bool queueLines(const Dc09Message &m, const Dc09Intake &in, const QByteArray &ack,
                    const Sender &from);
    bool markSignOfLife(const QString &conta);
    // Sends bytes once every line staged so far is durable; an ACK (onlyIfDurable) only when
    // the flushes made them so, notDurable running otherwise.
    void answer(const Sender &to, const QByteArray &bytes, bool onlyIfDurable,
                std::function<void()> notDurable = nullptr);
    void respond(const Sender &to, const QByteArray &bytes);
    // The connected-devices row of the sender: its connection's, or one per address and
    // account for datagrams.
    void noteSender(const Sender &from, const Dc09Message &m, const QString &account, bool event);
    bool seenRecently(const QString &key, const QDateTime &now);
    void remember(const QString &key, const QDateTime &now);
    void monitor(const Sender &from, const QString &text);

    DM1 &m_dm;
    Database &m_database;
    ConnectionRegistry &m_registry;
    ReceptionSink &m_sink;
    const Clock &m_clock;
    const LiveSettings &m_settings;
    Dc09Keys m_keys;
    QHash<QString, QDateTime> m_seen;
    QQueue<QPair<QString, QDateTime>> m_seenOrder;
};

// The account as an event line carries it: four digits as a format "5" frame has them, or
// six; upper case. A longer one is kept whole, for the recorder to refuse.
QString dc09LineAccount(const QString &account);

} // namespace tulmo
