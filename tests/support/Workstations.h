#pragma once

// The pieces of a station of several workstations that the failover test and its benchmark
// drive: a workstation's program folder on a private server, a tulmo-recepcao run, GPRS modules
// (the simulator's) and a DC-09 panel.

#include "support/FirebirdServer.h"
#include "support/TestSupport.h"

#include "core/reception/Dc09Message.h"
#include "sim/GprsFleet.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <csignal>
#include <functional>

namespace tulmo::test {

inline QString banco(const FirebirdServer &server, const QString &file) {
    return QStringLiteral("[Banco]\r\nServidor=127.0.0.1\r\nPorta=%1\r\nArquivo=%2\r\nSenha=%3\r\n")
        .arg(server.port())
        .arg(file, FirebirdServer::kPassword);
}

// A workstation's program folder: Config.ini names the server and the workstation.
struct Workstation {
    QTemporaryDir dir;
    QString exe;
    // origin: the tulmo-recepcao to copy; by default the one built beside the running program.
    explicit Workstation(const QString &ini, QString origin = QString()) {
        QDir().mkpath(dir.path() + "/Dados");
        QFile f(dir.path() + "/Dados/Config.ini");
        f.open(QIODevice::WriteOnly);
        f.write(ini.toUtf8());
        if (origin.isEmpty()) origin = QCoreApplication::applicationDirPath() + "/tulmo-recepcao";
        exe = dir.path() + "/tulmo-recepcao";
        if (QFile::copy(origin, exe)) QFile::setPermissions(exe, QFile::permissions(origin));
    }
};

// A tulmo-recepcao run; its output is gathered while the test waits.
struct Service {
    QProcess p;
    QByteArray out;
    explicit Service(const QString &exe) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LSAN_OPTIONS", "detect_leaks=0"); // killed: no leak report of its own
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&p, &QProcess::readyRead, [this] { out += p.readAll(); });
        p.start(exe);
    }
    ~Service() {
        if (p.state() != QProcess::NotRunning) {
            ::kill(pid_t(p.processId()), SIGCONT);
            p.kill();
            p.waitForFinished(10000);
        }
    }
    bool waitForLine(const QString &text, int ms) {
        return waitFor([&] { return QString::fromUtf8(out).contains(text); }, ms);
    }
    void signal(int sig) { ::kill(pid_t(p.processId()), sig); }
};

// The zones recorded for an account, in the order recorded.
inline QList<int> recordedZones(QSqlDatabase db, const QByteArray &conta) {
    QList<int> zones;
    for (const QVariant &v : column(db, "select ARGUMENTO from EVENTOS where CONTA = :c order by SEQUENCIA",
                                    {{":c", QString::fromLatin1(conta).rightJustified(6, '0')}}))
        zones << v.toInt();
    return zones;
}

// A module's registration (GPRS row) for account conta, active and unblocked.
inline void registerModule(QSqlDatabase db, const QString &imei, const QString &conta) {
    GprsRow(imei)
        .account(conta)
        .status("A")
        .date(QDateTime::currentDateTime())
        .blocked(0)
        .equipment("01")
        .password("1234")
        .insertInto(db);
}

// What the shared queue holds, by queue, with its queue mark: for a failure's message.
inline QString sharedQueueState(QSqlDatabase db) {
    QSqlQuery q(db);
    q.exec("select f.FILA, f.ESTACAO, min(f.NUMERO), max(f.NUMERO), count(*), (select m.LAST_LINE "
           "from QUEUE_MARK m where m.QUEUE_ID = f.FILA) from FILA_EVENTOS f group by f.FILA, "
           "f.ESTACAO");
    QStringList rows;
    while (q.next())
        rows << QStringLiteral("%1 %2: %3..%4 (%5) mark %6")
                    .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                         q.value(3).toString(), q.value(4).toString(), q.value(5).toString());
    return rows.join(QLatin1String("; "));
}

inline int count(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

// GPRS modules that report numbered bursts of burglary events (zones 0, 1, …) when asked
// (GprsFleet::report), and nothing else: no heartbeat, no events of their own. Module i is IMEI
// firstImei + i and account firstAccount + i; each keeps up to eight frames unanswered, dials
// again 300 ms after its connection goes, and sends again from the first frame not answered,
// as a module does with its own queue.
inline sim::GprsFleet::Settings reportingModules(quint16 port, int firstImei, int firstAccount,
                                                 int modules) {
    sim::GprsFleet::Settings s =
        sim::GprsFleet::Settings::whenTold(port, modules, firstImei, firstAccount);
    s.redialMs = 300;
    return s;
}

// A DC-09 panel reporting a numbered burst of unencrypted burglary messages (zones 0, 1, …) one
// at a time: each is sent again, with its sequence number, until its ACK comes, over a new
// connection when the old one goes.
class ReportingPanel : public QObject {
public:
    ReportingPanel(quint16 port, QByteArray account, int total)
        : m_port(port), m_account(std::move(account)), m_total(total) {
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            ++connections;
            send();
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &ReportingPanel::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, &ReportingPanel::lost);
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket.state() != QAbstractSocket::ConnectedState) lost();
        });
        m_retry.setSingleShot(true);
        m_retry.setInterval(300);
        connect(&m_retry, &QTimer::timeout, this, &ReportingPanel::dial);
        m_resend.setInterval(2000);
        connect(&m_resend, &QTimer::timeout, this, &ReportingPanel::send);
        dial();
    }
    ~ReportingPanel() override {
        m_stopped = true;
        m_socket.disconnect(this);
    }
    int acked = 0;
    int sentAtMost = 0;
    int connections = 0;
    QList<qint64> ackTimes;
    void stop() {
        m_stopped = true;
        m_retry.stop();
        m_resend.stop();
        m_socket.abort();
    }

private:
    QByteArray sequence() const { return QByteArray::number(acked % 9999 + 1).rightJustified(4, '0'); }
    void dial() {
        if (m_stopped) return;
        m_socket.abort();
        m_buffer.clear();
        m_socket.connectToHost(QHostAddress::LocalHost, m_port);
    }
    void lost() {
        m_resend.stop();
        if (m_stopped || m_retry.isActive()) return;
        m_retry.start();
    }
    void send() {
        if (m_stopped || acked >= m_total || m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        m_socket.write(Dc09Codec::frame("\"ADM-CID\"" + sequence() + "R1L1#" + m_account + "[#" +
                                        m_account + "|1130 01 " +
                                        QByteArray::number(acked).rightJustified(3, '0') + "]"));
        sentAtMost = std::max(sentAtMost, acked + 1);
        m_resend.start();
    }
    void read() {
        m_buffer += m_socket.readAll();
        if (!m_buffer.contains("\"ACK\"" + sequence())) return;
        m_buffer.clear();
        ++acked;
        ackTimes << QDateTime::currentMSecsSinceEpoch();
        m_resend.stop();
        send();
    }

    quint16 m_port;
    QByteArray m_account;
    int m_total;
    QTcpSocket m_socket;
    QTimer m_retry, m_resend;
    QByteArray m_buffer;
    bool m_stopped = false;
};

} // namespace tulmo::test
