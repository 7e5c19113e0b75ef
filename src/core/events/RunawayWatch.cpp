#include "core/events/RunawayWatch.h"

#include <QElapsedTimer>

#include <algorithm>

namespace tulmo {

namespace {
// Times are kept as seconds from here: four bytes each, good for more than a century.
const qint64 kEpoch = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
} // namespace

RunawayWatch::RunawayWatch()
    : RunawayWatch(Limits{}) {}

RunawayWatch::RunawayWatch(Limits limits) {
    setLimits(limits);
}

void RunawayWatch::setLimits(Limits limits) {
    QMutexLocker lock(&m_lock);
    limits.events = std::clamp(limits.events, 1, kMaxSignals);
    limits.minutes = std::clamp(limits.minutes, 1, kMaxMinutes);
    if (limits.events != m_limits.events) {
        // The rings are sized by the count: they start again, the flags stay.
        for (State &s : m_accounts) {
            s.ring.clear();
            s.head = s.count = 0;
        }
    }
    m_limits = limits;
}

RunawayWatch::Limits RunawayWatch::limits() const {
    QMutexLocker lock(&m_lock);
    return m_limits;
}

qint64 RunawayWatch::monotonicMs() {
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed() + 1; // never 0: 0 is "not flagged here"
}

quint32 RunawayWatch::seconds(const QDateTime &t) {
    return quint32(std::clamp<qint64>(t.toSecsSinceEpoch() - kEpoch, 0, 0xFFFFFFFF));
}

void RunawayWatch::reset(State &s) {
    s.flagged = false;
    s.flaggedAtMs = 0;
    s.head = s.count = 0;
}

RunawayWatch::Verdict RunawayWatch::note(const QString &conta, const QDateTime &when) {
    const quint32 t = seconds(when);
    QMutexLocker lock(&m_lock);
    State &s = m_accounts[conta];
    s.last = std::max(s.last, t);
    if (s.flagged) return Verdict::Runaway;
    const int n = m_limits.events;
    if (s.ring.size() != size_t(n)) s.ring.assign(size_t(n), 0);
    // With the ring full, its oldest time is the n-th event before this one: this one is the
    // (n + 1)-th within the window when that one is inside it.
    const quint32 window = quint32(m_limits.minutes) * 60;
    const bool over = s.count == n && t - std::min(t, s.ring[s.head]) < window;
    s.ring[s.head] = t;
    s.head = quint16((s.head + 1) % n);
    if (s.count < n) ++s.count;
    if (!over) return Verdict::Normal;
    s.flagged = true;
    s.flaggedAtMs = monotonicMs();
    m_flagged.insert(conta);
    return Verdict::Flagged;
}

QStringList RunawayWatch::releaseQuiet(const QDateTime &now) {
    const quint32 t = seconds(now);
    QMutexLocker lock(&m_lock);
    QStringList released;
    for (auto it = m_flagged.begin(); it != m_flagged.end();) {
        State &s = m_accounts[*it];
        if (t >= s.last && t - s.last >= quint32(kQuietMinutes) * 60) {
            reset(s);
            released << *it;
            it = m_flagged.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(released.begin(), released.end());
    return released;
}

void RunawayWatch::clear(const QString &conta) {
    QMutexLocker lock(&m_lock);
    auto it = m_accounts.find(conta);
    if (it != m_accounts.end()) reset(*it);
    m_flagged.remove(conta);
}

int RunawayWatch::syncFlagged(const QHash<QString, QDateTime> &held, qint64 graceMs) {
    const qint64 now = monotonicMs();
    QMutexLocker lock(&m_lock);
    int kept = 0;
    for (auto it = m_flagged.begin(); it != m_flagged.end();) {
        State &s = m_accounts[*it];
        if (held.contains(*it)) {
            ++it;
            continue;
        }
        if (s.flaggedAtMs > 0 && now - s.flaggedAtMs < graceMs) {
            ++kept;
            ++it;
            continue;
        }
        reset(s);
        it = m_flagged.erase(it);
    }
    for (auto it = held.cbegin(); it != held.cend(); ++it) {
        State &s = m_accounts[it.key()];
        s.flagged = true;
        s.last = std::max(s.last, seconds(it.value()));
        m_flagged.insert(it.key());
    }
    return kept;
}

bool RunawayWatch::isFlagged(const QString &conta) const {
    QMutexLocker lock(&m_lock);
    return m_flagged.contains(conta);
}

QStringList RunawayWatch::flagged() const {
    QMutexLocker lock(&m_lock);
    QStringList out(m_flagged.begin(), m_flagged.end());
    std::sort(out.begin(), out.end());
    return out;
}

qsizetype RunawayWatch::accounts() const {
    QMutexLocker lock(&m_lock);
    return m_accounts.size();
}

} // namespace tulmo
