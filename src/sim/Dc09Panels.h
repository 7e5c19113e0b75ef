#pragma once

#include "sim/GprsFleet.h"
#include "sim/Sent.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace tulmo::sim {

// Alarm panels that report by SIA DC-09 over UDP or TCP: each sends its events as "ADM-CID"
// messages ("#account|Eeee pp zzz"), one at a time, and its link test ("NULL") every few
// seconds while it has nothing to send; a message not answered in a few seconds goes again with
// its sequence, as the standard asks, so the station records it once. With a key every message
// is encrypted (AES, the key of the accounts at the station). A "NAK" carries the station's
// time: the panel sets its clock by it and sends the message again.
class Dc09Panels : public QObject {
    Q_OBJECT
public:
    enum class Transport { Udp, Tcp };
    struct Settings {
        Transport transport = Transport::Udp;
        Address station;
        int panels = 10;
        int firstAccount = 3001;
        QByteArray key; // 16, 24 or 32 bytes; empty: in the clear
        double eventsPerSecond = 1;
        int linkTestSeconds = 30;
        int resendSeconds = 3;
    };

    explicit Dc09Panels(Settings s, QObject *parent = nullptr);
    ~Dc09Panels() override;

    void start();
    void stopEvents();
    void stop();

    const std::vector<SentEvent> &sent() const { return m_sent; }
    int linkTestsAnswered() const;
    int naks() const;
    // Panels that had at least one message answered.
    int heard() const;

private:
    class Panel;
    void tick();

    Settings m_s;
    std::vector<std::unique_ptr<Panel>> m_panels;
    std::vector<SentEvent> m_sent;
    std::vector<int> m_counts;
    QTimer m_tick;
    double m_owed = 0;
    qint64 m_lastTick = 0;
    bool m_sending = false;
    int m_next = 0;
    friend class Panel;
};

} // namespace tulmo::sim
