#include "sim/GprsFleet.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <algorithm>

namespace tulmo::sim {

class GprsFleet::Module : public QObject {
public:
    Module(GprsFleet &fleet, int index)
        : m_fleet(fleet)
        , m_index(index)
        , m_imei(QByteArray::number(fleet.m_s.firstImei + index).rightJustified(6, '0').right(6))
        , m_conta(
              QByteArray::number(fleet.m_s.firstAccount + index % std::max(1, fleet.m_s.accounts))
                  .rightJustified(4, '0')
                  .right(4)) {
        connect(&m_socket, &QTcpSocket::readyRead, this, &Module::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, &Module::lost);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket.state() != QAbstractSocket::ConnectedState) lost();
        });
        m_retry.setSingleShot(true);
        m_retry.setInterval(fleet.m_s.redialMs);
        connect(&m_retry, &QTimer::timeout, this, &Module::dial);
        m_pieceTimer.setInterval(20);
        connect(&m_pieceTimer, &QTimer::timeout, this, &Module::sendPiece);
        m_beatMs = std::max(0, fleet.m_s.heartbeatSeconds) * 1000;
        connect(&m_heartbeat, &QTimer::timeout, this, [this] {
            // The first beat after beat() comes at a moment of its own; the next ones every
            // interval.
            if (m_heartbeat.interval() != m_beatMs) m_heartbeat.setInterval(m_beatMs);
            // A module beats only while it has nothing to send: a beat that shares a segment
            // with the next frame ("@5011 …") reads as a sign of life, not as that event.
            if (m_identified && m_waiting.isEmpty()) beatOnce();
        });
    }
    ~Module() override {
        m_stopped = true;
        m_socket.disconnect(this);
    }
    const QByteArray &conta() const { return m_conta; }
    bool identified() const { return m_identified; }
    bool greeted() const {
        return m_greeted && m_socket.state() == QAbstractSocket::ConnectedState;
    }

    void dial() {
        if (m_stopped || m_silent) return;
        m_socket.abort();
        m_buffer.clear();
        m_identified = false;
        m_greeted = false;
        m_sentId = false;
        m_refused = false;
        // Every other attempt goes to the backup address, when there is one.
        const Address &to = (m_attempts++ % 2 == 1 && m_fleet.m_s.backup.port != 0)
                                ? m_fleet.m_s.backup
                                : m_fleet.m_s.primary;
        m_socket.connectToHost(to.host, to.port);
    }
    // A dial of the fleet's start, which tells the fleet when it has its "&" or failed.
    void dialPaced(int round) {
        m_round = round;
        dial();
    }
    // An event of this module: queued, and sent when fewer than the most are unanswered.
    void queue(qsizetype sentIndex) {
        m_waiting.append(sentIndex);
        m_all.append(sentIndex);
        pump();
    }
    void identifyNow() {
        if (!m_identified) sendIdentification();
    }
    void setBeat(int ms, int firstMs) {
        m_beatMs = ms;
        m_heartbeat.stop();
        if (ms > 0 && m_identified && !m_silent) m_heartbeat.start(firstMs);
    }
    void fallSilent() {
        m_silent = true;
        m_heartbeat.stop();
        m_retry.stop();
        if (m_identified) beatOnce();
    }
    void stop() {
        m_stopped = true;
        m_retry.stop();
        m_heartbeat.stop();
        m_socket.abort();
    }
    int unanswered() const { return int(m_waiting.size()); }
    int answered() const { return m_answered; }
    int sentAtMost() const { return m_sentAtMost; }
    int connections() const { return m_connections; }
    int timesSent(int nth) const {
        return nth >= 0 && nth < m_all.size() ? m_fleet.m_sent[size_t(m_all[nth])].times : 0;
    }

private:
    void beatOnce() {
        send("@");
        ++m_fleet.m_heartbeats;
    }
    void dialAnsweredNow() {
        if (m_round < 0) return;
        const int round = m_round;
        m_round = -1;
        m_fleet.dialAnswered(round);
    }
    void lost() {
        m_heartbeat.stop();
        dialAnsweredNow();
        if (m_stopped || m_silent || m_retry.isActive()) return;
        m_retry.start();
    }
    void sendIdentification() {
        if (!m_greeted || m_sentId || (m_fleet.m_s.identifyWhenTold && !m_fleet.m_told)) return;
        m_sentId = true;
        m_socket.write("&" + m_fleet.m_s.deviceCode + m_imei + m_conta);
        m_socket.flush();
    }
    void read() {
        m_buffer += m_socket.readAll();
        if (!m_identified) {
            if (m_buffer.contains("&+")) {
                m_identified = true;
                ++m_connections;
                m_attempts = 0;
                m_buffer.clear();
                m_inFlight = 0; // what the old connection never answered goes again
                m_pieces.clear();
                if (m_beatMs > 0 && !m_silent) m_heartbeat.start(m_beatMs);
                emit m_fleet.moduleIdentified(m_index);
                if (!m_everIdentified) {
                    m_everIdentified = true;
                    m_fleet.identifiedFirst(m_index);
                }
                pump();
            } else if (m_buffer.contains('&')) {
                m_greeted = true;
                dialAnsweredNow();
                sendIdentification();
                if (m_sentId && !m_refused && m_buffer.indexOf('-', m_buffer.indexOf('&')) >= 0) {
                    m_refused = true;
                    emit m_fleet.moduleRefused(m_index);
                }
            }
            return;
        }
        qsizetype at;
        while ((at = m_buffer.indexOf("+OK")) >= 0) {
            m_buffer.remove(0, at + 3);
            if (m_waiting.isEmpty()) continue;
            const qsizetype done = m_waiting.takeFirst();
            m_fleet.m_sent[size_t(done)].answeredMs = nowMs();
            ++m_answered;
            if (m_inFlight > 0) --m_inFlight;
            emit m_fleet.eventAnswered(done);
        }
        if (m_buffer.size() > 64) m_buffer = m_buffer.right(2);
        pump();
    }
    void pump() {
        if (!m_identified || m_silent) return;
        while (m_inFlight < m_waiting.size() && m_inFlight < m_fleet.m_s.maxUnanswered) {
            const qsizetype index = m_waiting[m_inFlight];
            Sent &s = m_fleet.m_sent[size_t(index)];
            ++m_inFlight;
            // Told before the write, so that a listener's clock starts before the station can
            // have the frame.
            if (s.times++ == 0) {
                s.sentMs = nowMs();
                ++m_sentAtMost;
                emit m_fleet.eventSent(index);
            }
            send("5011 18" + m_conta + s.codigo + "01" +
                 QByteArray::number(s.zona).rightJustified(3, '0') + "\x14");
        }
    }

    // A slow link hands the frame over in pieces; in order, since each piece waits for the one
    // before it.
    void send(const QByteArray &frame) {
        const int piece = m_fleet.m_s.splitBytes;
        if (piece <= 0) {
            // Out at once, not at the event loop's next turn: the time taken is the send's.
            m_socket.write(frame);
            m_socket.flush();
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
    int m_beatMs = 0;
    QList<qsizetype> m_waiting; // indexes into the fleet's sent events, oldest first
    QList<qsizetype> m_all;     // every event of this module, in order
    int m_inFlight = 0;
    int m_attempts = 0;
    int m_round = -1;
    int m_answered = 0, m_sentAtMost = 0, m_connections = 0;
    bool m_identified = false, m_greeted = false, m_sentId = false, m_refused = false;
    bool m_stopped = false, m_silent = false;
};

GprsFleet::GprsFleet(Settings s, QObject *parent)
    : QObject(parent)
    , m_s(std::move(s)) {
    for (int i = 0; i < m_s.modules; ++i)
        m_modules.push_back(std::make_unique<Module>(*this, i));
    m_counts.assign(m_modules.size(), 0);
    m_dialStall.setSingleShot(true);
    m_dialStall.setInterval(5000);
    // Dials that got no answer for that long no longer hold the next ones back.
    connect(&m_dialStall, &QTimer::timeout, this, [this] {
        ++m_round;
        m_waitingDials = 0;
        dialMore();
    });
}

GprsFleet::~GprsFleet() = default;

void GprsFleet::start() {
    if (m_s.dialEveryMs > 0) {
        for (int i = 0; i < int(m_modules.size()); ++i)
            QTimer::singleShot((i / together()) * m_s.dialEveryMs, m_modules[size_t(i)].get(),
                               [m = m_modules[size_t(i)].get()] { m->dial(); });
    } else {
        dialMore();
    }
    m_sending = true;
    m_lastTick = nowMs();
    auto *t = new QTimer(this);
    t->setInterval(10);
    connect(t, &QTimer::timeout, this, &GprsFleet::tickEvents);
    t->start();
}

int GprsFleet::together() const {
    return std::max(1, m_s.dialTogether);
}

void GprsFleet::dialMore() {
    m_dialScheduled = false;
    const int n = int(m_modules.size());
    while (m_dialed < n && m_waitingDials < together()) {
        ++m_waitingDials;
        m_modules[size_t(m_dialed++)]->dialPaced(m_round);
    }
    if (m_dialed < n)
        m_dialStall.start();
    else
        m_dialStall.stop();
}

void GprsFleet::dialAnswered(int round) {
    if (round != m_round || m_waitingDials == 0) return;
    --m_waitingDials;
    if (m_dialed >= int(m_modules.size()) || m_dialScheduled) return;
    // At the loop's next turn, not from inside a module's socket handler.
    m_dialScheduled = true;
    QTimer::singleShot(0, this, &GprsFleet::dialMore);
}

void GprsFleet::tickEvents() {
    const qint64 now = nowMs();
    if (!m_sending || m_modules.empty()) {
        m_lastTick = now;
        return;
    }
    const int over =
        m_rateModules > 0 ? std::min(m_rateModules, int(m_modules.size())) : int(m_modules.size());
    m_owed += m_s.eventsPerSecond * double(now - m_lastTick) / 1000.0;
    while (m_owed >= 1) {
        m_owed -= 1;
        record(m_next++ % over);
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
    s.module = module;
    // Zones count the module's events, so that the station's list can be compared in order.
    s.zona = m_counts[size_t(module)]++ % 1000;
    m_sent.push_back(s);
    m_modules[size_t(module)]->queue(qsizetype(m_sent.size()) - 1);
}

void GprsFleet::report(int module, int events, const QByteArray &codigo) {
    for (int i = 0; i < events; ++i)
        record(module, codigo);
}

void GprsFleet::identify() {
    m_told = true;
    for (auto &m : m_modules)
        m->identifyNow();
}

void GprsFleet::setEventsPerSecond(double perSecond, int modules) {
    m_s.eventsPerSecond = perSecond;
    m_rateModules = modules;
    m_owed = 0;
    m_next = 0;
    m_lastTick = nowMs();
}

void GprsFleet::beat(int seconds) {
    m_s.heartbeatSeconds = seconds;
    const int ms = std::max(0, seconds) * 1000;
    for (auto &m : m_modules)
        m->setBeat(ms, ms > 0 ? int(QRandomGenerator::global()->bounded(ms)) : 0);
}

void GprsFleet::fallSilent() {
    m_sending = false;
    for (auto &m : m_modules)
        m->fallSilent();
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

int GprsFleet::greeted() const {
    return int(std::count_if(m_modules.begin(), m_modules.end(),
                             [](const auto &m) { return m->greeted(); }));
}

int GprsFleet::unanswered() const {
    int n = 0;
    for (const auto &m : m_modules)
        n += m->unanswered();
    return n;
}

QList<double> GprsFleet::latenciesMs() const {
    return answerTimesMs(m_sent);
}

qint64 GprsFleet::firstAnswerAfter(qint64 ms) const {
    qint64 first = 0;
    for (const Sent &s : m_sent)
        if (s.answeredMs > ms && (first == 0 || s.answeredMs < first)) first = s.answeredMs;
    return first;
}

int GprsFleet::events(int module) const {
    return m_counts[size_t(module)];
}
int GprsFleet::answered(int module) const {
    return m_modules[size_t(module)]->answered();
}
int GprsFleet::sentAtMost(int module) const {
    return m_modules[size_t(module)]->sentAtMost();
}
int GprsFleet::timesSent(int module, int nth) const {
    return m_modules[size_t(module)]->timesSent(nth);
}
int GprsFleet::connections(int module) const {
    return m_modules[size_t(module)]->connections();
}

} // namespace tulmo::sim
