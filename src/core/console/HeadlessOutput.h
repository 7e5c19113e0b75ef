#pragma once

#include "core/common/Prompt.h"
#include "core/console/ConsoleServices.h"
#include "core/console/SupervisionAlerts.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdio>

namespace tulmo {

class Clock;
class Database;

// What the console would show, for the reception service that runs without a screen: each
// entry one line on a stream, after its date and time ("09/03/2026 08:31:00 …"), flushed at
// once so that the system journal has it as it happens. It answers the core's prompts too:
// nobody is there to answer, so a message or an alert is a line, and a question is a line
// answered No (the start-up's "create an empty database?" then ends the service instead of
// replacing a lost database).
class HeadlessOutput : public QObject, public Prompt, public SupervisionAlerts {
    Q_OBJECT
public:
    // Pending events told on one wake-up at most; the rest are counted.
    static constexpr int kPendingPerBurst = 100;

    explicit HeadlessOutput(const Clock &clock, std::FILE *out = stdout,
                            std::FILE *err = stderr, QObject *parent = nullptr);

    // From now on the core's port monitor lines, its status-bar texts, the supervision alerts
    // and the events recorded as pending come out here. Says how many events are pending.
    void watch(const ConsoleServices &services);

    // One entry on the output, stamped now; a text of several lines comes out as one.
    void line(const QString &text);
    void line(const QDateTime &when, const QString &text);
    // An entry on the error stream: why the service cannot run.
    void error(const QString &text);

    void message(const QString &text, const QString &caption, Icon icon) override;
    void alert(const QString &text, const QString &caption, Icon icon,
               std::function<void()> closed) override;
    bool question(const QString &text, const QString &caption, Icon icon,
                  bool defaultYes) override;

    void rearmAlert(const QString &messageText) override;
    void inactivityAlert(const QString &messageText) override;

private:
    void write(std::FILE *stream, const QDateTime &when, const QString &text);
    void statusChanged(const QString &text);
    void tellNewPending();
    void tellPendingCount();

    const Clock &m_clock;
    std::FILE *m_out;
    std::FILE *m_err;
    Database *m_database = nullptr;
    QString m_status;
    qint64 m_lastPending = 0; // the number of the last event told or there at the start
};

} // namespace tulmo
