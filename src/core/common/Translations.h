#pragma once

class QCoreApplication;

namespace tulmo {

// Qt's own texts in Brazilian Portuguese (standard buttons, text fields' context menus, the
// print dialogs), whatever the system locale: the console speaks one language. False when the
// translation files are not installed; the texts then stay in English.
bool installPortugueseTranslations(QCoreApplication &app);

} // namespace tulmo
