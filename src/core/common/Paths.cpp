#include "Paths.h"

#include <QCoreApplication>
#include <QDir>

namespace tulmo {

namespace {
QString &overrideDir() {
    static QString dir;
    return dir;
}
} // namespace

QString Paths::programDir() {
    if (!overrideDir().isEmpty()) return overrideDir();
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

void Paths::setProgramDir(const QString &dir) {
    overrideDir() = dir;
}

QString Paths::dataDir() {
    return programDir() + QStringLiteral("/Dados");
}

QString Paths::configFile() {
    return dataDir() + QStringLiteral("/Config.ini");
}

QString Paths::resolveStoredPath(const QString &stored) {
    QString p = stored.trimmed();
    if (p.isEmpty()) return p;
#ifdef Q_OS_WIN
    return p;
#else
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const QString winRoot = QStringLiteral("C:/Tulmo/");
    if (p.startsWith(winRoot, Qt::CaseInsensitive))
        return programDir() + QLatin1Char('/') + p.mid(winRoot.size());
    if (p.size() > 2 && p.at(1) == QLatin1Char(':') && p.at(2) == QLatin1Char('/'))
        return p; // another drive: nothing it can mean here; the caller fails and goes on
    return p;
#endif
}

} // namespace tulmo
