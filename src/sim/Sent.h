#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <vector>

namespace tulmo::sim {

// One event a simulated device sent: which, when, and when it was answered (0: never).
struct SentEvent {
    QByteArray conta;
    QByteArray codigo = "E130"; // qualifier and Contact ID event code
    int zona = 0;
    qint64 sentMs = 0, answeredMs = 0;
    int times = 0;  // how many times it went out (more than once: a repeat after no answer)
    int module = 0; // which of its kind sent it
};

// The devices' clock for sending and answer times, in ms since the epoch.
inline qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The answer times of the answered events, in ms, shortest first.
QList<double> answerTimesMs(const std::vector<SentEvent> &sent);
int unansweredOf(const std::vector<SentEvent> &sent);

} // namespace tulmo::sim
