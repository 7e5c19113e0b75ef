#pragma once

#include <QString>

namespace tulmo {

// Every file of the system is found relative to the program folder: the database and
// the queues in Dados/, the default sounds in Sons/.
class Paths {
public:
    // The executable's folder (or that of the link it was started through) unless a test or a
    // benchmark chose another.
    static QString programDir();
    // The program folder of a process started as argv0 from an executable in executableDir.
    static QString startedFrom(const QString &argv0, const QString &executableDir);
    static void setProgramDir(const QString &dir);
    static QString dataDir();    // <program folder>/Dados
    // The embedded database engine keeps its lock files in the data folder rather than in a
    // /tmp/firebird shared by every user of the machine, which the first user's umask would
    // close to the others (the console of an operator and the reception service of the station
    // account use the same station folder). Left as it is when already set.
    static void keepEngineLocksInDataDir();
    static QString configFile(); // <program folder>/Dados/Config.ini
    // Paths stored by the Windows version ("C:\Tulmo\Sons\P1Sound.wav") resolve under
    // the program folder; backslashes are read as separators.
    static QString resolveStoredPath(const QString &stored);
};

} // namespace tulmo
