#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tulmo {

bool installPortugueseTranslations(QCoreApplication &app) {
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool any = false;
    for (const char *module : {"qtbase", "qtmultimedia"}) {
        auto *t = new QTranslator(&app);
        if (t->load(brazil, QLatin1String(module), QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(t)) {
            any = true;
        } else {
            delete t;
        }
    }
    return any;
}

} // namespace tulmo
