#pragma once

#include <QObject>
#include <QTimer>

namespace tulmo {

class EventQueue;
class LiveSettings;
class SlotWriter;

// Forwards the device frames of the repeater queue ("slot,frame" lines) out of the serial
// port of their slot: the head frame is written until the peer answers (any frame received
// on that port) or the attempts run out, then the next one goes.
class EventRepeater : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxChars = 21;

    // The number of attempts and their interval are read from the live settings at each
    // attempt, so a change in the settings dialog counts from the next one.
    EventRepeater(EventQueue &eventQueue, SlotWriter &ports, const LiveSettings &settings,
               QObject *parent = nullptr);

    int attempts() const;
    int intervalSeconds() const;

    // Step of the one-second driver: starts the repeater when lines wait and it is idle.
    void startIfIdle();
    // One expiry of TimerRepetidora: an attempt, or the drop of the head after the last.
    void TimerRepetidoraTimer();
    // Reception went to another workstation: no attempt more from here.
    void stop();
    // Serial reception ended a frame on slot k: the head line of slot k was delivered.
    void acknowledge(int slot);

    int retryCount() const { return m_retryCount; }
    QTimer &timer() { return m_timer; }

signals:
    void started();
    void sent(int slot, const QByteArray &frame);

private:
    static int slotOf(const QString &line);
    void dropLinesWithoutOutput();

    EventQueue &m_eventQueue;
    SlotWriter &m_ports;
    const LiveSettings &m_settings;
    QTimer m_timer; // TimerRepetidora
    int m_retryCount = 0;
};

} // namespace tulmo
