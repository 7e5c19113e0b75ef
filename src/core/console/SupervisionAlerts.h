#pragma once

#include <QString>

namespace tulmo {

class LiveSettings;
class Prompt;
class SoundOutput;

// Presents the supervision alerts (sound, page, message). The main window is one, the
// headless service's output another.
class SupervisionAlerts {
public:
    virtual ~SupervisionAlerts() = default;
    virtual void rearmAlert(const QString &messageText) = 0;
    virtual void inactivityAlert(const QString &messageText) = 0;
};

// Where the supervision's alerts go: to the presenter set, or, without one, a message of the
// prompt with the rearm sound. It also counts the inactivity alerts shown or waiting in line,
// whoever presents them: one sound plays from the first until the last is closed.
class AlertDesk {
public:
    AlertDesk(const LiveSettings &settings, Prompt *prompt, SoundOutput *sound);

    // Who presents the alerts from now on (nullptr: the desk itself).
    void setPresenter(SupervisionAlerts *presenter) { m_presenter = presenter; }

    void rearmAlert(const QString &messageText);
    void inactivityAlert(const QString &messageText);

    // An inactivity alert is shown: true for the first of a line of them.
    bool silentAlertOpened() { return m_silentAlertsOpen++ == 0; }
    // One was closed: true when it was the last.
    bool silentAlertClosed() { return m_silentAlertsOpen > 0 && --m_silentAlertsOpen == 0; }
    int silentAlertsOpen() const { return m_silentAlertsOpen; }

private:
    const LiveSettings &m_settings;
    Prompt *m_prompt;
    SoundOutput *m_sound;
    SupervisionAlerts *m_presenter = nullptr;
    int m_silentAlertsOpen = 0;
};

} // namespace tulmo
