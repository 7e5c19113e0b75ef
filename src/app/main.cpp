#include "common/Clock.h"
#include "common/Paths.h"
#include "common/Process.h"
#include "common/Translations.h"
#include "console/ConsoleCore.h"
#include "console/SingleInstance.h"
#include "console/MessagePrompt.h"
#include "console/Principal.h"
#include "console/SoundState.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_sigFd[2] = {-1, -1};
void onSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = ::write(g_sigFd[0], &c, 1);
}
// The embedded database engine takes SIGTERM and SIGINT for itself; take them back so that
// the session manager or a terminal can still end the console cleanly.
void quitOnTerminate(QCoreApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_sigFd) != 0) return;
    auto *n = new QSocketNotifier(g_sigFd[1], QSocketNotifier::Read, &app);
    // exit() rather than quit(): quit asks the windows to close, and the main window refuses.
    QObject::connect(n, &QSocketNotifier::activated, &app, [n] {
        char c;
        [[maybe_unused]] auto r = ::read(g_sigFd[1], &c, 1);
        n->setEnabled(false);
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
} // namespace
#endif

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

    tulmo::SoundState sons;
    tulmo::ConsoleCore core(tulmo::Paths::programDir(), tulmo::SystemClock::instance(), &prompt,
                            &sons);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        prompt.message(error, QStringLiteral("Tulmo"), tulmo::Prompt::Icon::Error);
        return 1;
    }
#ifdef Q_OS_UNIX
    quitOnTerminate(app);
#endif
    int rc = 0;
    {
        tulmo::Form_Principal mainWindow(core, &sons);
        prompt.setParent(&mainWindow);
        QObject::connect(&mainWindow, &tulmo::Form_Principal::exitRequested, &app,
                         [] { QCoreApplication::exit(0); });
        QObject::connect(&instanceGuard, &tulmo::SingleInstance::showRequested, &mainWindow,
                         &tulmo::Form_Principal::bringForward);
        // Showing runs FormShow: the receivers open and the one-second timers start.
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
