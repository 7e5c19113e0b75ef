#include "sim/GprsFleet.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace tulmo::sim {

namespace {
qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }
} // namespace

class GprsFleet::Module : public QObject {
public:
    Module(GprsFleet &fleet, int index)
        : m_fleet(fleet)
        , m_index(index)
        , m_imei(QByteArray::number(fleet.m_s.firstImei + index).rightJustified(6, '0').right(6))
        , m_conta(QByteArray::number(fleet.m_s.firstAccount + index).rightJustified(4, '0').right(4)) {
        connect(&m_socket, &QTcpSocket::readyRead, this, &Module::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, &Module::lost);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket.state() != QAbstractSocket::ConnectedState) lost();
        });
        m_retry.setSingleShot(true);
        m_retry.setInterval(1000);
        connect(&m_retry, &QTimer::timeout, this, &Module::dial);
        m_pieceTimer.setInterval(20);
        connect(&m_pieceTimer, &QTimer::timeout, this, &Module::sendPiece);
        m_heartbeat.setInterval(std::max(1, fleet.m_s.heartbeatSeconds) * 1000);
        connect(&m_heartbeat, &QTimer::timeout, this, [this] {
            // A module beats only while it has nothing to send: a beat that shares a segment
            // with the next frame ("@5011 …") reads as a sign of life, not as that event.
            if (m_identified && m_waiting.isEmpty()) send("@");
        });
    }
    const QByteArray &conta() const { return m_conta; }
    bool identified() const { return m_identified; }

    void dial() {
        if (m_stopped) return;
        m_socket.abort();
        m_buffer.clear();
        m_identified = false;
        m_sentId = false;
        // Every other attempt goes to the backup address, when there is one.
        const Address &to = (m_attempts++ % 2 == 1 && m_fleet.m_s.backup.port != 0)
                                ? m_fleet.m_s.backup
                                : m_fleet.m_s.primary;
        m_socket.connectToHost(to.host, to.port);
    }
    // An event of this module: queued, and sent when fewer than the most are unanswered.
    void queue(qsizetype sentIndex) {
        m_waiting.append(sentIndex);
        pump();
    }
    void stop() {
        m_stopped = true;
        m_retry.stop();
        m_heartbeat.stop();
        m_socket.abort();
    }
    int unanswered() const { return int(m_waiting.size()); }

private:
    void lost() {
        m_heartbeat.stop();
        if (m_stopped || m_retry.isActive()) return;
        m_retry.start();
    }
    void read() {
        m_buffer += m_socket.readAll();
        if (!m_identified) {
            if (m_buffer.contains("&+")) {
                m_identified = true;
                m_attempts = 0;
                m_buffer.clear();
                m_inFlight = 0; // what the old connection never answered goes again
                m_pieces.clear();
                m_heartbeat.start();
                if (!m_everIdentified) {
                    m_everIdentified = true;
                    m_fleet.identifiedFirst(m_index);
                }
                pump();
            } else if (m_buffer.contains('&') && !m_sentId) {
                m_sentId = true;
                m_socket.write("&01" + m_imei + m_conta);
            }
            return;
        }
        qsizetype at;
        while ((at = m_buffer.indexOf("+OK")) >= 0) {
            m_buffer.remove(0, at + 3);
            if (m_waiting.isEmpty()) continue;
            m_fleet.m_sent[size_t(m_waiting.takeFirst())].answeredMs = nowMs();
            if (m_inFlight > 0) --m_inFlight;
        }
        if (m_buffer.size() > 64) m_buffer = m_buffer.right(2);
        pump();
    }
    void pump() {
        if (!m_identified) return;
        while (m_inFlight < m_waiting.size() && m_inFlight < m_fleet.m_s.maxUnanswered) {
            Sent &s = m_fleet.m_sent[size_t(m_waiting[m_inFlight])];
            send("5011 18" + m_conta + s.codigo + "01" +
                 QByteArray::number(s.zona).rightJustified(3, '0') + "\x14");
            if (s.times++ == 0) s.sentMs = nowMs();
            ++m_inFlight;
        }
    }

    // A slow link hands the frame over in pieces; in order, since each piece waits for the one
    // before it.
    void send(const QByteArray &frame) {
        const int piece = m_fleet.m_s.splitBytes;
        if (piece <= 0) {
            m_socket.write(frame);
            return;
        }
        for (qsizetype at = 0; at < frame.size(); at += piece)
            m_pieces.append(frame.mid(at, piece));
        if (!m_pieceTimer.isActive()) m_pieceTimer.start();
    }
    void sendPiece() {
        if (m_pieces.isEmpty() || m_socket.state() != QAbstractSocket::ConnectedState) {
            m_pieceTimer.stop();
            m_pieces.clear();
            return;
        }
        m_socket.write(m_pieces.takeFirst());
    }

    GprsFleet &m_fleet;
    int m_index;
    QList<QByteArray> m_pieces;
    QTimer m_pieceTimer;
    bool m_everIdentified = false;
    QByteArray m_imei, m_conta, m_buffer;
    QTcpSocket m_socket;
    QTimer m_retry, m_heartbeat;
    QList<qsizetype> m_waiting; // indexes into the fleet's sent events, oldest first
    int m_inFlight = 0;
    int m_attempts = 0;
    bool m_identified = false, m_sentId = false, m_stopped = false;
};

GprsFleet::GprsFleet(Settings s, QObject *parent)
    : QObject(parent)
    , m_s(std::move(s)) {
    for (int i = 0; i < m_s.modules; ++i)
        m_modules.push_back(std::make_unique<Module>(*this, i));
    m_counts.assign(m_modules.size(), 0);
}

GprsFleet::~GprsFleet() = default;

void GprsFleet::start() {
    // Forty at a time, one batch every 50 ms.
    for (int i = 0; i < int(m_modules.size()); ++i)
        QTimer::singleShot((i / 40) * 50, m_modules[size_t(i)].get(), [m = m_modules[size_t(i)].get()] {
            m->dial();
        });
    m_sending = true;
    m_lastTick = nowMs();
    auto *t = new QTimer(this);
    t->setInterval(10);
    connect(t, &QTimer::timeout, this, &GprsFleet::tickEvents);
    t->start();
}

void GprsFleet::tickEvents() {
    const qint64 now = nowMs();
    if (!m_sending || m_modules.empty()) {
        m_lastTick = now;
        return;
    }
    m_owed += m_s.eventsPerSecond * double(now - m_lastTick) / 1000.0;
    while (m_owed >= 1) {
        m_owed -= 1;
        record(m_next++ % int(m_modules.size()));
    }
    const int runaway = std::min(m_s.runawayModules, int(m_modules.size()));
    m_runawayOwed += m_s.runawayPerSecond * runaway * double(now - m_lastTick) / 1000.0;
    m_lastTick = now;
    while (runaway > 0 && m_runawayOwed >= 1) {
        m_runawayOwed -= 1;
        record(m_nextRunaway++ % runaway);
    }
}

void GprsFleet::identifiedFirst(int module) {
    if (!m_sending) return;
    for (int i = 0; i < m_s.burstPerModule; ++i)
        record(module);
    if (m_s.powerCut) {
        record(module, "E301");
        QTimer::singleShot(m_s.restoreAfterSeconds * 1000, this,
                           [this, module] { record(module, "R301"); });
    }
}

void GprsFleet::record(int module, const QByteArray &codigo) {
    Sent s;
    s.conta = m_modules[size_t(module)]->conta();
    s.codigo = codigo;
    // Zones count the module's events, so that the station's list can be compared in order.
    s.zona = m_counts[size_t(module)]++ % 1000;
    m_sent.push_back(s);
    m_modules[size_t(module)]->queue(qsizetype(m_sent.size()) - 1);
}

void GprsFleet::stopEvents() {
    m_sending = false;
}

void GprsFleet::stop() {
    m_sending = false;
    for (auto &m : m_modules)
        m->stop();
}

int GprsFleet::identified() const {
    return int(std::count_if(m_modules.begin(), m_modules.end(),
                             [](const auto &m) { return m->identified(); }));
}

int GprsFleet::unanswered() const {
    int n = 0;
    for (const auto &m : m_modules)
        n += m->unanswered();
    return n;
}

QList<double> GprsFleet::latenciesMs() const {
    QList<double> l;
    for (const Sent &s : m_sent)
        if (s.answeredMs > 0) l << double(s.answeredMs - s.sentMs);
    std::sort(l.begin(), l.end());
    return l;
}

} // namespace tulmo::sim
