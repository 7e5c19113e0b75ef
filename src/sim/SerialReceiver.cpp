#include "sim/SerialReceiver.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace tulmo::sim {

namespace {
constexpr char kAck = 0x06;
const QByteArray kHeartbeat = QByteArrayLiteral("1011           @\x14");
} // namespace

SerialReceiver::SerialReceiver(Settings s, QObject *parent)
    : QObject(parent)
    , m_s(std::move(s))
    , m_counts(size_t(std::max(1, m_s.accounts)), 0) {
    m_tick.setInterval(20);
    connect(&m_tick, &QTimer::timeout, this, &SerialReceiver::tick);
}

SerialReceiver::~SerialReceiver() {
    stop();
}

bool SerialReceiver::open(QString *error) {
#ifdef Q_OS_UNIX
    char name[256] = {};
    termios tio{};
    cfmakeraw(&tio);
    if (::openpty(&m_master, &m_slave, name, &tio, nullptr) != 0) {
        *error = QStringLiteral("não foi possível criar o terminal: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!m_s.link.isEmpty()) {
        QFile::remove(m_s.link);
        if (!QFile::link(m_slavePath, m_s.link)) {
            *error = QStringLiteral("não foi possível criar o link %1").arg(m_s.link);
            return false;
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SerialReceiver::readable);
    return true;
#else
    *error = QStringLiteral("a receptora serial simulada precisa de pseudoterminais (Linux)");
    return false;
#endif
}

QString SerialReceiver::devicePath() const {
    return m_s.link.isEmpty() ? m_slavePath : m_s.link;
}

void SerialReceiver::start() {
    m_sending = true;
    m_started = m_lastTick = m_lastBeat = nowMs();
    m_tick.start();
}

void SerialReceiver::stopEvents() {
    m_sending = false;
}

void SerialReceiver::stop() {
    m_sending = false;
    m_tick.stop();
    m_notifier.reset();
#ifdef Q_OS_UNIX
    if (m_master >= 0) ::close(m_master);
    if (m_slave >= 0) ::close(m_slave);
#endif
    m_master = m_slave = -1;
    if (!m_s.link.isEmpty() && QFileInfo(m_s.link).isSymLink()) QFile::remove(m_s.link);
}

void SerialReceiver::write(const QByteArray &bytes) {
#ifdef Q_OS_UNIX
    if (m_master >= 0) (void)!::write(m_master, bytes.constData(), size_t(bytes.size()));
#else
    Q_UNUSED(bytes);
#endif
}

void SerialReceiver::readable() {
#ifdef Q_OS_UNIX
    char buf[512];
    const auto n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) return; // the station has the port closed (EIO): it opens it again
    for (qsizetype i = 0; i < n; ++i) {
        if (buf[i] == kAck) {
            if (!m_inFlight || m_waiting.empty()) continue;
            const qsizetype head = m_waiting.front();
            m_waiting.pop_front();
            m_inFlight = false;
            if (head < 0)
                ++m_beatsAnswered;
            else
                m_sent[size_t(head)].answeredMs = nowMs();
        } else {
            m_heard.append(buf[i]);
        }
    }
    // The station asks who is on the line when it opens the port.
    // ("SP" at each open and once more when the receiver is configured). A frame the station
    // lost in a new open goes again when its answer does not come.
    if (const qsizetype asks = m_heard.count("SP"); asks > 0) {
        m_heard.clear();
        for (qsizetype i = 0; i < asks && !m_quiet; ++i)
            write("RZ5");
        // The station tells an identification from a frame by the pause after it.
        m_holdUntil = nowMs() + 1200;
        if (!m_quiet && !m_identified) {
            m_identified = true;
            m_identifiedAt = nowMs(); // the quiet one's talk counts from here
        }
    }
    if (m_heard.size() > 64) m_heard = m_heard.right(8);
    pump();
#endif
}

void SerialReceiver::tick() {
    const qint64 now = nowMs();
    const bool wasQuiet = m_quiet;
    if (m_s.quietSeconds > 0 && !m_quietDone && m_identified) {
        const qint64 from = m_identifiedAt + qint64(m_s.quietAfterSeconds) * 1000;
        m_quiet = now >= from && now < from + qint64(m_s.quietSeconds) * 1000;
        if (wasQuiet && !m_quiet) m_quietDone = true;
    }
    if (m_quiet != wasQuiet) {
        m_lastBeat = 0; // the receiver greets with a heartbeat when it speaks again
        if (m_quiet)
            emit quietBegan();
        else
            emit quietEnded();
    }
    if (m_sending) {
        m_owed += m_s.eventsPerSecond * double(now - m_lastTick) / 1000.0;
        while (m_owed >= 1) {
            m_owed -= 1;
            const int a = m_nextAccount++ % int(m_counts.size());
            SentEvent e;
            e.conta = QByteArray::number(m_s.firstAccount + a).rightJustified(4, '0').right(4);
            e.zona = m_counts[size_t(a)]++ % 1000;
            e.module = a;
            m_sent.push_back(e);
            m_waiting.push_back(qsizetype(m_sent.size()) - 1);
        }
    }
    m_lastTick = now;
    if (!m_quiet && m_identified && m_waiting.empty() &&
        now - m_lastBeat >= qint64(m_s.heartbeatSeconds) * 1000) {
        m_lastBeat = now;
        m_waiting.push_back(-1);
    }
    // An answer that never came: the frame goes again.
    if (m_inFlight && now - m_inFlightSince >= qint64(m_s.resendSeconds) * 1000) m_inFlight = false;
    pump();
}

void SerialReceiver::pump() {
    if (m_quiet || !m_identified || m_inFlight || m_waiting.empty() || m_master < 0 ||
        nowMs() < m_holdUntil)
        return;
    const qsizetype head = m_waiting.front();
    m_inFlight = true;
    m_inFlightSince = nowMs();
    if (head < 0) {
        write(kHeartbeat);
        return;
    }
    SentEvent &e = m_sent[size_t(head)];
    if (e.times++ == 0) e.sentMs = m_inFlightSince;
    write("5011 18" + e.conta + e.codigo + "01" +
          QByteArray::number(e.zona).rightJustified(3, '0') + '\x14');
}

} // namespace tulmo::sim
