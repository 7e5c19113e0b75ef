#include "SupervisionAlerts.h"

#include "core/common/Prompt.h"
#include "core/common/Sound.h"
#include "core/settings/LiveSettings.h"

namespace tulmo {

AlertDesk::AlertDesk(const LiveSettings &settings, Prompt *prompt, SoundOutput *sound)
    : m_settings(settings), m_prompt(prompt), m_sound(sound) {}

// Alerts hold nothing back: the account was marked before it was announced, so the scans go
// on while the operator reads without raising it again.
void AlertDesk::rearmAlert(const QString &messageText) {
    if (m_presenter) {
        m_presenter->rearmAlert(messageText);
        return;
    }
    if (m_sound) m_sound->playRepeating(m_settings.rearmSound());
    if (m_prompt) m_prompt->alert(messageText, QStringLiteral("Tulmo"), Prompt::Icon::Warning);
}

void AlertDesk::inactivityAlert(const QString &messageText) {
    if (m_presenter) {
        m_presenter->inactivityAlert(messageText);
        return;
    }
    if (!m_prompt) {
        if (m_sound) m_sound->playRepeating(m_settings.rearmSound());
        return;
    }
    // Several in one tick wait in line: one sound from the first until the last is closed.
    if (silentAlertOpened() && m_sound) m_sound->playRepeating(m_settings.rearmSound());
    m_prompt->alert(messageText, QStringLiteral("Tulmo"), Prompt::Icon::Warning, [this] {
        if (silentAlertClosed() && m_sound) m_sound->stopPlayer();
    });
}

} // namespace tulmo
