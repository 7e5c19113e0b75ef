#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tulmo {

namespace {
QString &overrideDir() {
    static QString dir;
    return dir;
}
} // namespace

// Started through a link (the station folder of an installed station holds links to the
// installed programs), the folder of that link: the station's Dados/ and Sons/ are there, and
// the programs' own folder is never written.
QString Paths::startedFrom(const QString &argv0, const QString &executableDir) {
    if (argv0.contains(QLatin1Char('/'))) {
        const QFileInfo started(argv0);
        if (started.isSymLink()) return started.absolutePath();
    }
    return executableDir;
}

QString Paths::programDir() {
    if (!overrideDir().isEmpty()) return overrideDir();
    if (QCoreApplication::instance())
        return startedFrom(QCoreApplication::arguments().value(0),
                           QCoreApplication::applicationDirPath());
    return QDir::currentPath();
}

void Paths::setProgramDir(const QString &dir) {
    overrideDir() = dir;
}

QString Paths::dataDir() {
    return programDir() + QStringLiteral("/Dados");
}

void Paths::keepEngineLocksInDataDir() {
    if (qEnvironmentVariableIsSet("FIREBIRD_LOCK")) return;
    const QString dir = dataDir() + QStringLiteral("/.firebird");
    QDir().mkpath(dir);
    qputenv("FIREBIRD_LOCK", QFile::encodeName(dir));
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
