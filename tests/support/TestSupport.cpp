#include "TestSupport.h"

#include "settings/IniFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace tulmo::test {

quint16 portaLivre() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) qFatal("no free port");
    return probe.serverPort();
}

Pty::Pty() {
    char name[256] = {};
    struct termios tio {};
    cfmakeraw(&tio);
    if (openpty(&m_master, &m_slaveFd, name, &tio, nullptr) != 0) {
        m_master = -1;
        return;
    }
    m_slave = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    if (m_master >= 0) ::close(m_master);
    if (m_slaveFd >= 0) ::close(m_slaveFd);
}

QByteArray Pty::readAll(int timeoutMs, qsizetype atLeast) {
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        char buf[4096];
        const auto n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            if (out.size() >= atLeast) {
                // Take what is still in flight.
                QTest::qWait(20);
                while (true) {
                    const auto m = ::read(m_master, buf, sizeof buf);
                    if (m <= 0) break;
                    out.append(buf, m);
                }
                if (out.size() >= atLeast) return out;
            }
        } else {
            QTest::qWait(5);
        }
    }
    return out;
}

bool Pty::write(const QByteArray &bytes) {
    return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void exec(QSqlDatabase db, const QString &sql) {
    exec(db, sql, {});
}

void exec(QSqlDatabase db, const QString &sql, const QVariantMap &params) {
    QSqlQuery q(db);
    if (!q.prepare(sql))
        qFatal("prepare failed: %s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (auto it = params.begin(); it != params.end(); ++it)
        q.bindValue(it.key(), it.value());
    if (!q.exec()) qFatal("exec failed: %s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
}

QVariant scalar(QSqlDatabase db, const QString &sql, const QVariantMap &params) {
    const QVariantList c = column(db, sql, params);
    return c.isEmpty() ? QVariant() : c.first();
}

QVariantList column(QSqlDatabase db, const QString &sql, const QVariantMap &params) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        qFatal("prepare failed: %s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (auto it = params.begin(); it != params.end(); ++it)
        q.bindValue(it.key(), it.value());
    if (!q.exec()) qFatal("exec failed: %s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
    QVariantList out;
    while (q.next())
        out << q.value(0);
    return out;
}

QStringList columnsOf(QSqlDatabase db, const QString &table) {
    QStringList out;
    for (const QVariant &v :
         column(db,
                "select trim(RDB$FIELD_NAME) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = :t "
                "order by RDB$FIELD_POSITION",
                {{":t", table}}))
        out << v.toString().trimmed();
    return out;
}

void mapPort(const QString &dataDir, int comNumber, const QString &device) {
    IniFile ini(dataDir + QStringLiteral("/Config.ini"));
    ini.writeString(QStringLiteral("Portas"), QStringLiteral("COM%1").arg(comNumber), device);
}

} // namespace tulmo::test
