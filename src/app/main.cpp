#include "core/common/Clock.h"
#include "core/common/Paths.h"
#include "core/common/Process.h"
#include "core/common/Translations.h"
#include "core/console/ConsoleCore.h"
#include "core/console/DataFolderLock.h"
#include "core/console/SingleInstance.h"
#include "ui/console/MessagePrompt.h"
#include "ui/console/Principal.h"
#include "ui/console/SoundState.h"
#include "core/store/Database.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[]) {
    tulmo::prepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tulmo"));
    tulmo::installPortugueseTranslations(app);

    tulmo::MessagePrompt prompt;
    // One console per session: a second start brings the first to the front and ends.
    tulmo::SingleInstance instanceGuard;
    if (!instanceGuard.tryBecomeFirst()) {
        prompt.message(QStringLiteral("O Tulmo já está aberto!"), QStringLiteral("Tulmo"),
                       tulmo::Prompt::Icon::Error);
        instanceGuard.askFirstToShow();
        return 0;
    }

    // One process on a data folder: the headless reception service may hold it.
    tulmo::DataFolderLock folderLock(tulmo::Paths::dataDir());
    QString error;
    if (!folderLock.acquire(QStringLiteral("tulmo"), &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        prompt.message(error, QStringLiteral("Tulmo"), tulmo::Prompt::Icon::Error);
        return 1;
    }

    tulmo::Paths::keepEngineLocksInDataDir();
    // A termination signal that comes while the core starts ends the process once it has.
    tulmo::quitOnTerminate(app);
    tulmo::Database::leaveSignalsToProcess(&tulmo::requestTermination);

    tulmo::SoundState sons;
    tulmo::ConsoleCore core(tulmo::Paths::programDir(), tulmo::SystemClock::instance(), &prompt,
                            &sons);
    if (!core.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        prompt.message(error, QStringLiteral("Tulmo"), tulmo::Prompt::Icon::Error);
        return 1;
    }
    tulmo::quitOnTerminate(app); // taken back from the engine
    int rc = 0;
    {
        tulmo::Form_Principal mainWindow(core.services(), &sons);
        prompt.setParent(&mainWindow);
        QObject::connect(&mainWindow, &tulmo::Form_Principal::exitRequested, &app,
                         [] { QCoreApplication::exit(0); });
        QObject::connect(&instanceGuard, &tulmo::SingleInstance::showRequested, &mainWindow,
                         &tulmo::Form_Principal::bringForward);
        // Reception starts with the core, not with the window; once the window exists, so that
        // a message of the receivers' start (two receivers on one port) is in front of it.
        core.startReception();
        // Maximised rather than sized to the screen: a desktop panel keeps its place and the
        // status bar stays in sight.
        mainWindow.showMaximized();
        // The operator logs in from inside the event loop, so that reception and recording
        // run while the shift dialog is open and an ending of the process ends it too.
        QTimer::singleShot(0, &mainWindow, &tulmo::Form_Principal::startShift);
        // TULMO_CAPTURA=file.png: a picture of the window once it has settled, then the end
        // (the documentation's screenshot).
        const QString capture = qEnvironmentVariable("TULMO_CAPTURA");
        if (!capture.isEmpty()) {
            QTimer::singleShot(qEnvironmentVariableIntValue("TULMO_CAPTURA_MS") > 0
                                   ? qEnvironmentVariableIntValue("TULMO_CAPTURA_MS")
                                   : 2500,
                               &mainWindow, [&mainWindow, capture] {
                                   mainWindow.grab().save(capture);
                                   QCoreApplication::exit(0);
                               });
        }
        rc = app.exec();
        core.stopTimer();
    }
    core.shutdown();
    return rc;
}
