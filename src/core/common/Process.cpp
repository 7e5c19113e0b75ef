#include "Process.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QtGlobal>

#include <cerrno>
#include <ctime>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tulmo {

void prepareProcess() {
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsEmpty("TZ")) {
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
        tzset();
    }
#endif
}

#ifdef Q_OS_UNIX
namespace {
int g_sigFd[2] = {-1, -1};
void onSignal(int) {
    requestTermination();
}
} // namespace

void requestTermination() {
    const int saved = errno;
    char c = 1;
    [[maybe_unused]] const auto n = g_sigFd[0] >= 0 ? ::write(g_sigFd[0], &c, 1) : 0;
    errno = saved;
}

// The handler only writes a byte; the event loop reads it and ends.
void quitOnTerminate(QCoreApplication &app) {
    if (g_sigFd[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_sigFd) != 0) return;
        auto *n = new QSocketNotifier(g_sigFd[1], QSocketNotifier::Read, &app);
        // exit() rather than quit(): quit asks the windows to close, and the main window
        // refuses.
        QObject::connect(n, &QSocketNotifier::activated, &app, [n] {
            char c;
            [[maybe_unused]] auto r = ::read(g_sigFd[1], &c, 1);
            n->setEnabled(false);
            QCoreApplication::exit(0);
        });
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
#else
void quitOnTerminate(QCoreApplication &) {}
void requestTermination() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                              Qt::QueuedConnection);
}
#endif

} // namespace tulmo
