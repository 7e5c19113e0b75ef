#pragma once

#include <QString>

namespace tulmo {

// Every file of the system is found relative to the program folder: the database and
// the queues in Dados/, the default sounds in Sons/.
class Paths {
public:
    // The executable's folder unless a test or a benchmark chose another.
    static QString programDir();
    static void setProgramDir(const QString &dir);
    static QString dataDir();    // <program folder>/Dados
    static QString configFile(); // <program folder>/Dados/Config.ini
    // Paths stored by the Windows version ("C:\Tulmo\Sons\P1Sound.wav") resolve under
    // the program folder; backslashes are read as separators.
    static QString resolveStoredPath(const QString &stored);
};

} // namespace tulmo
