#pragma once

class QCoreApplication;

namespace tulmo {

// Process-wide settings made once at start, before any thread or database attachment:
// with TZ unset, the C library looks /etc/localtime up again on every local-time
// conversion, hundreds of times per recorded event; naming the same file once keeps the
// zone and drops those look-ups.
void prepareProcess();

// SIGTERM and SIGINT end the event loop with exit code 0, so that the session manager, a
// terminal or the service manager end the process cleanly; a signal that comes before the
// loop runs ends it as soon as it does. The embedded database engine takes both signals for
// itself when it starts: call this again once the database is open.
void quitOnTerminate(QCoreApplication &app);
// What a termination signal does: asks the event loop to end. Safe from a signal handler and
// from any thread.
void requestTermination();

} // namespace tulmo
