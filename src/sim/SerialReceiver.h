#pragma once

#include "sim/Sent.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace tulmo::sim {

// An alarm receiver on a serial line, played on a pseudo-terminal: the station opens the
// terminal's device as one of its [Portas], asks "SPSP" and is answered "RZ5"; the receiver then
// sends its heartbeat ("1011           @" + 0x14) every few seconds and its events as format "5"
// frames ("5011 18" + account + code + partition "01" + zone + 0x14), one at a time, each
// answered by 0x06. A frame not answered within a few seconds goes again, as a receiver does.
// A quiet receiver stops talking for a while and then speaks again.
class SerialReceiver : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString link; // when set, a symbolic link to the terminal's device, made at open
        int accounts = 5;
        int firstAccount = 2001;
        double eventsPerSecond = 1;
        int heartbeatSeconds = 30;
        int resendSeconds = 5;
        // Quiet: quietAfterSeconds after it was first asked who it is, nothing at all for
        // quietSeconds.
        int quietAfterSeconds = 0;
        int quietSeconds = 0;
    };

    explicit SerialReceiver(Settings s, QObject *parent = nullptr);
    ~SerialReceiver() override;

    // Opens the pseudo-terminal; false with the reason when the system gives none.
    bool open(QString *error);
    // The device the station opens: the link when one was asked for.
    QString devicePath() const;
    void start();
    void stopEvents();
    void stop();

    bool identified() const { return m_identified; }
    bool quiet() const { return m_quiet; }
    int heartbeatsAnswered() const { return m_beatsAnswered; }
    const std::vector<SentEvent> &sent() const { return m_sent; }

signals:
    void quietBegan();
    void quietEnded();

private:
    void readable();
    void tick();
    void pump();
    void write(const QByteArray &bytes);

    Settings m_s;
    int m_master = -1, m_slave = -1;
    QString m_slavePath;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_tick;
    qint64 m_started = 0, m_identifiedAt = 0, m_holdUntil = 0, m_lastBeat = 0, m_lastTick = 0,
           m_inFlightSince = 0;
    double m_owed = 0;
    bool m_sending = false, m_identified = false, m_quiet = false, m_quietDone = false;
    QByteArray m_heard;
    // What waits to go, in order; the head is in flight once sent (-1: a heartbeat).
    std::deque<qsizetype> m_waiting;
    bool m_inFlight = false;
    std::vector<SentEvent> m_sent;
    std::vector<int> m_counts;
    int m_nextAccount = 0;
    int m_beatsAnswered = 0;
};

} // namespace tulmo::sim
