#include "common/Clock.h"
#include "common/Paths.h"
#include "common/Process.h"
#include "console/ConsoleCore.h"
#include "console/MessagePrompt.h"

#include <QApplication>
#include <QMessageBox>

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
    QObject::connect(n, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
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
    tulmo::prepararProcesso();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tulmo"));

    tulmo::MessagePrompt prompt;
    tulmo::ConsoleCore core(tulmo::Paths::programDir(), tulmo::SystemClock::instance(), &prompt,
                            nullptr);
    QString error;
    if (!core.iniciar(&error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        QMessageBox::critical(nullptr, QStringLiteral("Tulmo"), error);
        return 1;
    }
    std::fprintf(stderr, "Tulmo: banco de dados em %s; fila com %lld evento(s).\n",
                 core.dm().banco().databaseFile().toLocal8Bit().constData(),
                 static_cast<long long>(core.fila().size()));
#ifdef Q_OS_UNIX
    quitOnTerminate(app);
#endif
    core.startTimer();
    const int rc = app.exec();
    core.stopTimer();
    core.encerrar();
    return rc;
}
