#pragma once

#include <QTimer>

namespace tulmo {

// Holds a one-second supervision timer still while the operator reads its alert, so the same
// account is not announced again meanwhile, and lets it run again afterwards if it was running.
class AlertPause {
public:
    explicit AlertPause(QTimer &timer)
        : m_timer(timer)
        , m_wasActive(timer.isActive()) {
        m_timer.stop();
    }
    ~AlertPause() {
        if (m_wasActive) m_timer.start(1000);
    }
    AlertPause(const AlertPause &) = delete;
    AlertPause &operator=(const AlertPause &) = delete;

private:
    QTimer &m_timer;
    bool m_wasActive;
};

} // namespace tulmo
