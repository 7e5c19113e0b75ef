#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <vector>

namespace tulmo {

// A panel that sends far more than a panel should (a zone that trips and restores over and
// over, a failing communicator) floods the operators and delays the real alarms of everyone
// else. An account that sends more than `events` events within `minutes` is flagged runaway:
// its further events are recorded but neither raised as pending nor sounded, until an
// operator clears the flag or until it has been quiet for kQuietMinutes.
//
// Held where events are recorded, in memory: each account keeps the times of its last
// `events` events, and one event costs a hash lookup and a comparison. The recording thread
// notes events; the event loop's thread releases and clears: every call takes the lock.
class RunawayWatch {
public:
    struct Limits {
        int events = 12; // more than this many within minutes is runaway
        int minutes = 60;
    };
    static constexpr int kQuietMinutes = 30;
    static constexpr int kMaxSignals = 1000;
    static constexpr int kMaxMinutes = 24 * 60;

    enum class Verdict {
        Normal,
        Flagged, // this event made the account runaway
        Runaway  // the account was runaway already
    };

    RunawayWatch();
    explicit RunawayWatch(Limits limits);
    void setLimits(Limits limits);
    Limits limits() const;

    // An event of conta at when (its arrival).
    Verdict note(const QString &conta, const QDateTime &when);
    // The flagged accounts whose last event is kQuietMinutes or more before now: unflagged and
    // counted afresh from their next event.
    QStringList releaseQuiet(const QDateTime &now);
    // An operator cleared the flag: unflagged and counted afresh.
    void clear(const QString &conta);
    // The flags the station holds (its table, at a takeover or after a change elsewhere):
    // those flagged here and not there are cleared, those there and not here are flagged with
    // their last event. A flag raised here less than graceMs ago stays: its row may still be
    // in a recording that has not committed when the table was read.
    static constexpr qint64 kSyncGraceMs = 30000;
    // Answers how many such flags stayed for that reason: the table is to be read again once
    // the grace is over.
    int syncFlagged(const QHash<QString, QDateTime> &flaggedWithLastEvent,
                    qint64 graceMs = kSyncGraceMs);
    bool isFlagged(const QString &conta) const;
    QStringList flagged() const;
    qsizetype accounts() const;

private:
    struct State {
        std::vector<quint32> ring; // the last event times, seconds from kEpoch
        quint32 last = 0;
        qint64 flaggedAtMs = 0; // monotonic, when this watch flagged it
        quint16 head = 0;
        quint16 count = 0;
        bool flagged = false;
    };
    static quint32 seconds(const QDateTime &t);
    static qint64 monotonicMs();
    void reset(State &s);

    mutable QMutex m_lock;
    Limits m_limits;
    QHash<QString, State> m_accounts;
    QSet<QString> m_flagged;
};

} // namespace tulmo
