#include "sim/Dc09Panels.h"

#include "core/reception/Dc09Message.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

#include <deque>

namespace tulmo::sim {

class Dc09Panels::Panel : public QObject {
public:
    Panel(Dc09Panels &all, int index)
        : m_all(all)
        , m_account(QByteArray::number(all.m_s.firstAccount + index).rightJustified(4, '0')) {
        if (all.m_s.transport == Transport::Udp) {
            m_udp = std::make_unique<QUdpSocket>();
            connect(m_udp.get(), &QUdpSocket::readyRead, this, [this] {
                while (m_udp->hasPendingDatagrams()) {
                    const QByteArray d = m_udp->receiveDatagram().data();
                    answered(d);
                }
            });
        } else {
            m_tcp = std::make_unique<QTcpSocket>();
            connect(m_tcp.get(), &QTcpSocket::readyRead, this, [this] {
                m_buffer += m_tcp->readAll();
                // Answers end with <CR>.
                for (qsizetype cr; (cr = m_buffer.indexOf('\r')) >= 0;) {
                    answered(m_buffer.left(cr + 1));
                    m_buffer.remove(0, cr + 1);
                }
            });
            connect(m_tcp.get(), &QTcpSocket::connected, this, [this] {
                m_inFlight = false;
                send();
            });
            connect(m_tcp.get(), &QTcpSocket::disconnected, this, [this] { redial(); });
            connect(m_tcp.get(), &QTcpSocket::errorOccurred, this, [this] {
                if (m_tcp->state() != QAbstractSocket::ConnectedState) redial();
            });
        }
    }
    void begin() {
        m_lastSpoke = nowMs();
        if (m_tcp) dial();
    }
    void queue(qsizetype sentIndex) {
        m_waiting.push_back(sentIndex);
        send();
    }
    // The panel's part of the fleet's tick: a message that went unanswered goes again, and an
    // idle panel tests its link.
    void tick(qint64 now) {
        if (m_stopped) return;
        if (m_inFlight && now - m_inFlightSince >= qint64(m_all.m_s.resendSeconds) * 1000) {
            m_inFlight = false;
            m_again = true;
        }
        if (!m_inFlight && m_waiting.empty() &&
            now - m_lastSpoke >= qint64(m_all.m_s.linkTestSeconds) * 1000)
            m_waiting.push_back(-1);
        send();
    }
    void stop() {
        m_stopped = true;
        if (m_tcp) m_tcp->abort();
        if (m_udp) m_udp->close();
    }
    int linkTests = 0, naks = 0;
    bool heard = false;

private:
    void dial() {
        if (m_stopped) return;
        m_buffer.clear();
        m_tcp->abort();
        m_tcp->connectToHost(m_all.m_s.station.host, m_all.m_s.station.port);
    }
    void redial() {
        if (m_stopped || m_redialing) return;
        m_redialing = true;
        QTimer::singleShot(1000, this, [this] {
            m_redialing = false;
            dial();
        });
    }
    QByteArray message(qsizetype head) {
        Dc09Message m;
        m.sequence = QString::number(m_sequence).rightJustified(4, QLatin1Char('0'));
        m.linePrefix = QStringLiteral("1");
        m.account = QString::fromLatin1(m_account);
        if (head < 0) {
            m.token = QStringLiteral("NULL");
        } else {
            const SentEvent &e = m_all.m_sent[size_t(head)];
            // "E130" is a new event 130: qualifier 1; "R" a restore: 3.
            const char qualifier = e.codigo.startsWith('R') ? '3' : '1';
            m.token = QStringLiteral("ADM-CID");
            m.data = QStringLiteral("#%1|%2%3 01 %4")
                         .arg(m.account, QChar::fromLatin1(qualifier),
                              QString::fromLatin1(e.codigo.mid(1)),
                              QString::number(e.zona).rightJustified(3, QLatin1Char('0')));
        }
        // A panel stamps what it sends with its clock, set by the station's last "NAK".
        m.timestamp = QDateTime::currentDateTimeUtc().addMSecs(m_clockOffsetMs);
        return Dc09Codec::build(m, m_all.m_s.key);
    }
    void send() {
        if (m_stopped || m_inFlight || m_waiting.empty()) return;
        if (m_tcp && m_tcp->state() != QAbstractSocket::ConnectedState) return;
        const qsizetype head = m_waiting.front();
        if (!m_again) m_sequence = m_sequence % 9999 + 1;
        m_again = false;
        const QByteArray bytes = message(head);
        m_inFlight = true;
        m_inFlightSince = m_lastSpoke = nowMs();
        if (head >= 0) {
            SentEvent &e = m_all.m_sent[size_t(head)];
            if (e.times++ == 0) e.sentMs = m_inFlightSince;
        }
        if (m_udp)
            m_udp->writeDatagram(bytes, QHostAddress(m_all.m_s.station.host),
                                 m_all.m_s.station.port);
        else
            m_tcp->write(bytes);
    }
    void answered(const QByteArray &answer) {
        if (!m_inFlight) return;
        const QByteArray seq = QByteArray::number(m_sequence).rightJustified(4, '0');
        if (answer.contains("ACK\"" + seq)) {
            const qsizetype head = m_waiting.front();
            m_waiting.pop_front();
            m_inFlight = false;
            heard = true;
            if (head < 0)
                ++linkTests;
            else
                m_all.m_sent[size_t(head)].answeredMs = nowMs();
            send();
        } else if (answer.contains("NAK\"")) {
            // "…NAK"0000R0L0A0[]_HH:MM:SS,MM-DD-YYYY<CR>": the station's time.
            ++naks;
            const qsizetype mark = answer.lastIndexOf('_');
            const QDateTime t = mark < 0 ? QDateTime()
                                         : Dc09Codec::parseTimestamp(
                                               QString::fromLatin1(answer.mid(mark + 1).trimmed()));
            if (t.isValid()) m_clockOffsetMs = QDateTime::currentDateTimeUtc().msecsTo(t);
            m_inFlight = false;
            m_again = true;
            send();
        }
    }

    Dc09Panels &m_all;
    QByteArray m_account;
    std::unique_ptr<QUdpSocket> m_udp;
    std::unique_ptr<QTcpSocket> m_tcp;
    QByteArray m_buffer;
    std::deque<qsizetype> m_waiting; // -1: a link test
    int m_sequence = 0;
    bool m_inFlight = false, m_again = false, m_stopped = false, m_redialing = false;
    qint64 m_inFlightSince = 0, m_lastSpoke = 0, m_clockOffsetMs = 0;
};

Dc09Panels::Dc09Panels(Settings s, QObject *parent)
    : QObject(parent)
    , m_s(std::move(s))
    , m_counts(size_t(std::max(1, m_s.panels)), 0) {
    for (int i = 0; i < std::max(1, m_s.panels); ++i)
        m_panels.push_back(std::make_unique<Panel>(*this, i));
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, &Dc09Panels::tick);
}

Dc09Panels::~Dc09Panels() = default;

void Dc09Panels::start() {
    m_sending = true;
    m_lastTick = nowMs();
    for (auto &p : m_panels)
        p->begin();
    m_tick.start();
}

void Dc09Panels::stopEvents() {
    m_sending = false;
}

void Dc09Panels::stop() {
    m_sending = false;
    m_tick.stop();
    for (auto &p : m_panels)
        p->stop();
}

void Dc09Panels::tick() {
    const qint64 now = nowMs();
    if (m_sending) {
        m_owed += m_s.eventsPerSecond * double(now - m_lastTick) / 1000.0;
        while (m_owed >= 1) {
            m_owed -= 1;
            const int i = m_next++ % int(m_panels.size());
            SentEvent e;
            e.conta = QByteArray::number(m_s.firstAccount + i).rightJustified(4, '0');
            e.zona = m_counts[size_t(i)]++ % 1000;
            e.module = i;
            m_sent.push_back(e);
            m_panels[size_t(i)]->queue(qsizetype(m_sent.size()) - 1);
        }
    }
    m_lastTick = now;
    for (auto &p : m_panels)
        p->tick(now);
}

int Dc09Panels::linkTestsAnswered() const {
    int n = 0;
    for (const auto &p : m_panels)
        n += p->linkTests;
    return n;
}

int Dc09Panels::naks() const {
    int n = 0;
    for (const auto &p : m_panels)
        n += p->naks;
    return n;
}

int Dc09Panels::heard() const {
    int n = 0;
    for (const auto &p : m_panels)
        n += p->heard ? 1 : 0;
    return n;
}

} // namespace tulmo::sim
