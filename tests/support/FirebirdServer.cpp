#include "FirebirdServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tulmo::test {

namespace {
const QString kServer = QStringLiteral("/usr/sbin/firebird");
const QString kLibrary = QStringLiteral("/usr/lib/x86_64-linux-gnu/firebird/3.0");
const QString kSecurity = QStringLiteral("/var/lib/firebird/3.0/system/security3.fdb");

bool writeFile(const QString &path, const QByteArray &text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}
} // namespace

FirebirdServer::~FirebirdServer() {
    stop();
}

bool FirebirdServer::installed() {
    return QFileInfo(kServer).isExecutable() && QFileInfo::exists(kSecurity);
}

bool FirebirdServer::start(QString *why) {
    if (!installed()) {
        *why = QStringLiteral("firebird3.0-server is not installed");
        return false;
    }
    const QString root = m_dir.path();
    QDir().mkpath(root + QStringLiteral("/run"));
    QDir().mkpath(dataFolder());
    // Everything of the installed engine but its configuration and its security database.
    for (const QFileInfo &entry : QDir(kLibrary).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString name = entry.fileName();
        if (name == QLatin1String("firebird.conf") || name == QLatin1String("databases.conf") ||
            name == QLatin1String("security3.fdb"))
            continue;
        // The character sets' module is found only in a folder of the server's own: a link
        // to the installed one leaves WIN1252 "not installed".
        if (name == QLatin1String("intl")) {
            const QString intl = root + QStringLiteral("/intl");
            QDir().mkpath(intl);
            for (const QFileInfo &f : QDir(entry.filePath()).entryInfoList(QDir::Files)) {
                if (!QFile::copy(f.filePath(), intl + QLatin1Char('/') + f.fileName())) {
                    *why = QStringLiteral("cannot copy %1").arg(f.filePath());
                    return false;
                }
            }
            continue;
        }
        if (!QFile::link(entry.filePath(), root + QLatin1Char('/') + name)) {
            *why = QStringLiteral("cannot link %1").arg(entry.filePath());
            return false;
        }
    }
    m_port = freePort();
    const QString security = root + QStringLiteral("/security3.fdb");
    const QByteArray conf = QStringLiteral("RemoteServicePort = %1\nRemoteBindAddress = 127.0.0.1\n"
                                           "SecurityDatabase = %2\nServerMode = Super\n"
                                           "AuthServer = Srp\nUserManager = Srp\n"
                                           "WireCrypt = Enabled\n")
                                .arg(m_port)
                                .arg(security)
                                .toUtf8();
    if (!writeFile(root + QStringLiteral("/firebird.conf"), conf) ||
        !writeFile(root + QStringLiteral("/databases.conf"),
                   QStringLiteral("security.db = %1\n").arg(security).toUtf8()) ||
        !QFile::copy(kSecurity, security)) {
        *why = QStringLiteral("cannot write the server's folder %1").arg(root);
        return false;
    }
    QFile::setPermissions(security, QFile::ReadOwner | QFile::WriteOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FIREBIRD"), root);
    env.insert(QStringLiteral("FIREBIRD_LOCK"), root + QStringLiteral("/run"));
    env.insert(QStringLiteral("FIREBIRD_TMP"), root + QStringLiteral("/run"));
    // SYSDBA's password, set once in the security database through the embedded engine.
    QProcess isql;
    isql.setProcessEnvironment(env);
    isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-user"), QStringLiteral("SYSDBA"), security});
    isql.write(QStringLiteral("create or alter user SYSDBA password '%1' using plugin Srp; commit;\n")
                   .arg(QLatin1String(kPassword))
                   .toUtf8());
    isql.closeWriteChannel();
    if (!isql.waitForFinished(30000) || isql.exitCode() != 0) {
        *why = QStringLiteral("isql-fb could not set the password: %1")
                   .arg(QString::fromLocal8Bit(isql.readAllStandardError()));
        return false;
    }

    return launch(why);
}

bool FirebirdServer::launch(QString *why) {
    const QString root = m_dir.path();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = QStringLiteral("fork failed");
        return false;
    }
    if (pid == 0) {
        const QByteArray fb = root.toLocal8Bit(), run = (root + QStringLiteral("/run")).toLocal8Bit();
        ::setenv("FIREBIRD", fb.constData(), 1);
        ::setenv("FIREBIRD_LOCK", run.constData(), 1);
        ::setenv("FIREBIRD_TMP", run.constData(), 1);
        const QByteArray path = kServer.toLocal8Bit();
        ::execl(path.constData(), path.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    m_pid = pid;
    if (!waitForPort(20000)) {
        *why = QStringLiteral("the server did not listen on port %1").arg(m_port);
        stop();
        return false;
    }
    return true;
}

bool FirebirdServer::restart(QString *why) {
    if (m_pid > 0) return true;
    return launch(why);
}

bool FirebirdServer::waitForPort(int timeoutMs) const {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) return false; // it ended
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(m_port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(s);
        if (up) return true;
        QThread::msleep(50);
    }
    return false;
}

void FirebirdServer::stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    QElapsedTimer t;
    t.start();
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (t.elapsed() > 10000) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        QThread::msleep(20);
    }
    m_pid = -1;
}

void FirebirdServer::kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

} // namespace tulmo::test
