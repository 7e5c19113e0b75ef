#pragma once

#include <QDateTime>

namespace tulmo {

// Source of the local date and time. Supervision and recording read the time only
// through this, so that tests can move time forward without sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    static SystemClock &instance();
};

// A clock that stands still until told otherwise.
class ManualClock : public Clock {
public:
    explicit ManualClock(QDateTime t = QDateTime::currentDateTime())
        : m_now(std::move(t)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &t) { m_now = t; }
    void advanceSecs(qint64 s) { m_now = m_now.addSecs(s); }
    void advanceMSecs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

} // namespace tulmo
