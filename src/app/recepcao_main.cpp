// tulmo-recepcao: the console's reception engine without a screen. It serves the receivers,
// the devices, DC-09, the queue, recording, supervision and the repeater on the Dados/ folder
// beside it, exactly as the console does, and writes what the console would show to the
// standard output, a line per entry. SIGTERM or SIGINT end it with 0.
#include "core/common/Clock.h"
#include "core/common/Paths.h"
#include "core/common/Process.h"
#include "core/common/Translations.h"
#include "core/console/ConsoleCore.h"
#include "core/console/DataFolderLock.h"
#include "core/console/HeadlessOutput.h"
#include "core/store/Database.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {
const QString kProgramName = QStringLiteral("tulmo-recepcao");
} // namespace

int main(int argc, char *argv[]) {
    tulmo::prepareProcess();
#ifdef Q_OS_UNIX
    // The standard output is the journal's stream: should it go away, a write must fail,
    // not end reception.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgramName);
    tulmo::installPortugueseTranslations(app);

    const tulmo::Clock &clock = tulmo::SystemClock::instance();
    tulmo::HeadlessOutput output(clock);
    tulmo::DataFolderLock folderLock(tulmo::Paths::dataDir());
    QString error;
    if (!folderLock.acquire(kProgramName, &error)) {
        output.error(error);
        return 1;
    }
    tulmo::Paths::keepEngineLocksInDataDir();
    // A termination signal that comes while the core starts ends the process once it has.
    tulmo::quitOnTerminate(app);
    tulmo::Database::leaveSignalsToProcess(&tulmo::requestTermination);
    // No sound here: the recorder plays nothing without an output.
    tulmo::ConsoleCore core(tulmo::Paths::programDir(), clock, &output, nullptr);
    if (!core.start(&error)) {
        output.error(error);
        core.shutdown();
        return 1;
    }
    tulmo::quitOnTerminate(app); // taken back from the engine
    core.setAlwaysTakesPart(true);
    output.watch(core.services());
    core.startReception();
    output.line(QStringLiteral("Recepção iniciada em %1 (processo %2).")
                    .arg(QDir::toNativeSeparators(core.dataDir()))
                    .arg(QCoreApplication::applicationPid()));
    const int rc = app.exec();
    core.shutdown();
    output.line(QStringLiteral("Recepção encerrada."));
    return rc;
}
