#include "EventRepeater.h"

#include "core/events/EventQueue.h"
#include "core/reception/SlotWriter.h"
#include "core/settings/LiveSettings.h"

namespace tulmo {

EventRepeater::EventRepeater(EventQueue &eventQueue, SlotWriter &ports, const LiveSettings &settings,
                       QObject *parent)
    : QObject(parent)
    , m_eventQueue(eventQueue)
    , m_ports(ports)
    , m_settings(settings) {
    m_timer.setObjectName(QStringLiteral("TimerRepetidora"));
    connect(&m_timer, &QTimer::timeout, this, &EventRepeater::TimerRepetidoraTimer);
}

int EventRepeater::attempts() const {
    return m_settings.repeaterAttempts();
}

int EventRepeater::intervalSeconds() const {
    return m_settings.retryInterval();
}

void EventRepeater::startIfIdle() {
    if (m_eventQueue.isEmpty() || m_retryCount != 0 || m_timer.isActive()) return;
    m_timer.start(50);
    emit started();
}

void EventRepeater::TimerRepetidoraTimer() {
    m_timer.stop();
    m_timer.setInterval(intervalSeconds() * 1000);
    dropLinesWithoutOutput();
    if (m_eventQueue.isEmpty()) {
        m_retryCount = 0;
        return;
    }
    if (m_retryCount < attempts()) {
        ++m_retryCount;
        m_timer.start();
        const QString head = m_eventQueue.head();
        const int comma = head.indexOf(QLatin1Char(','));
        const int slot = slotOf(head);
        // Frames are kept as received, one character per byte.
        const QByteArray frame = head.mid(comma + 1).left(kMaxChars).toLatin1();
        // A closed port is opened first; one that cannot open, or fails, still counts the
        // attempt.
        m_ports.openAndWrite(slot, frame);
        emit sent(slot, frame);
        return;
    }
    m_eventQueue.removeHead();
    m_retryCount = 0;
}

int EventRepeater::slotOf(const QString &line) {
    return line.section(QLatin1Char(','), 0, 0).trimmed().toInt();
}

void EventRepeater::dropLinesWithoutOutput() {
    // Lines left for a slot whose event output is now off can never leave: they go at once,
    // all together, rather than each after its attempts.
    qsizetype n = 0;
    const QList<QString> &lines = m_eventQueue.lines();
    while (n < lines.size() && !m_ports.hasEventOutput(slotOf(lines[n])))
        ++n;
    if (n == 0) return;
    m_eventQueue.removeFirst(n);
    m_retryCount = 0;
}

void EventRepeater::stop() {
    m_timer.stop();
    m_retryCount = 0;
}

void EventRepeater::acknowledge(int slot) {
    if (m_eventQueue.isEmpty()) return;
    const QString head = m_eventQueue.head();
    if (slotOf(head) != slot) return;
    m_eventQueue.removeHead();
    m_retryCount = 0;
    m_timer.stop();
}

} // namespace tulmo
