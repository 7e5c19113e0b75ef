#pragma once

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace tulmo::test {

// A private Firebird 3 SuperServer on loopback for the tests that need a real server: a free
// port, a folder of its own (its configuration, its security database with SYSDBA's password,
// its locks), stopped when the object goes. The system's own server is never touched.
class FirebirdServer {
public:
    static constexpr const char *kPassword = "srv-teste-9";
    FirebirdServer() = default;
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer &) = delete;
    FirebirdServer &operator=(const FirebirdServer &) = delete;

    // Whether the server's package is installed.
    static bool installed();
    // Starts it and waits until it accepts connections; false with why.
    bool start(QString *why);
    // Stops it (SIGTERM, then SIGKILL) and waits for its end.
    void stop();
    // SIGKILL, as a server that dies.
    void kill();
    // Starts it again after stop or kill, on the same port and folder.
    bool restart(QString *why);
    bool running() const { return m_pid > 0; }

    quint16 port() const { return m_port; }
    // A folder for the databases it serves.
    QString dataFolder() const { return m_dir.path() + QStringLiteral("/dados"); }

private:
    bool launch(QString *why);
    bool waitForPort(int timeoutMs) const;

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    pid_t m_pid = -1;
};

} // namespace tulmo::test
