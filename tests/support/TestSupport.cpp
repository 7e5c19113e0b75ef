#include "TestSupport.h"

#include "core/events/EventLine.h"
#include "core/settings/IniFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tulmo::test {

void settle(ConsoleCore &core) {
    // The recorder's completions run here, each batch's effects and the next batch with them.
    while (core.pump().busy() || core.recorder().backgroundPending() > 0)
        core.recorder().finishBackground();
    // The replacements of the queue file those batches asked for.
    core.eventQueue().flush();
}

void tickAndSettle(ConsoleCore &core) {
    // What the writer still has in flight reaches the disk first, as a tick a moment later finds.
    core.eventQueue().flush();
    core.Timer_AtualizarTimer();
    settle(core);
}

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) qFatal("no free port");
    return probe.serverPort();
}

Fifo::Fifo(const QString &path, int releaseAfterMs)
    : m_path(QFile::encodeName(path)) {
    m_ok = ::mkfifo(m_path.constData(), 0644) == 0;
    if (!m_ok) return;
    m_watchdog = std::thread([this, releaseAfterMs] {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(releaseAfterMs);
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (std::chrono::steady_clock::now() < deadline) continue;
            // Succeeds only while a reader holds the FIFO open, waiting for data.
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_released = true;
                ::close(fd);
            }
        }
    });
}

Fifo::~Fifo() {
    m_stop = true;
    if (m_watchdog.joinable()) m_watchdog.join();
    // Only while it is still the FIFO: a reader may have moved it aside and put a file there.
    struct stat st {};
    if (m_ok && ::lstat(m_path.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
        ::unlink(m_path.constData());
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

void TableRow::set(const QString &column, const QVariant &value) {
    // A column given again (over a ready-made row's) takes the later value.
    if (const qsizetype i = m_columns.indexOf(column); i >= 0) {
        m_values[i] = value;
        return;
    }
    m_columns << column;
    m_values << value;
}

void TableRow::insertInto(QSqlDatabase db) const {
    QStringList marks;
    QVariantMap params;
    for (int i = 0; i < m_columns.size(); ++i) {
        marks << QStringLiteral(":v%1").arg(i);
        params.insert(marks.last(), m_values[i]);
    }
    exec(db,
         QStringLiteral("insert into %1 (%2) values (%3)")
             .arg(m_table, m_columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
         params);
}

ReceiverRow::ReceiverRow(int slot)
    : TableRow(QStringLiteral("RECEIVER")) {
    set(QStringLiteral("RECEIVER"), slot);
}
ReceiverRow &ReceiverRow::name(const QString &nome) {
    set(QStringLiteral("NOME"), nome);
    return *this;
}
ReceiverRow &ReceiverRow::mode(int modoComunicacao) {
    set(QStringLiteral("MODO_COMUNICACAO"), modoComunicacao);
    return *this;
}
ReceiverRow &ReceiverRow::active(int ativo) {
    set(QStringLiteral("ATIVO"), ativo);
    return *this;
}
ReceiverRow &ReceiverRow::sendsSms(int sendsSms) {
    set(QStringLiteral("ENVIA_SMS"), sendsSms);
    return *this;
}
ReceiverRow &ReceiverRow::comPort(int portaCom, int baudsCom) {
    set(QStringLiteral("PORTA_COM"), portaCom);
    set(QStringLiteral("BAUDS_COM"), baudsCom);
    return *this;
}
ReceiverRow &ReceiverRow::tcpPort(int portaTcp) {
    set(QStringLiteral("PORTA_TCP"), portaTcp);
    return *this;
}
ReceiverRow &ReceiverRow::udpPort(int portaUdp) {
    set(QStringLiteral("PORTA_UDP"), portaUdp);
    return *this;
}
ReceiverRow &ReceiverRow::replyDelay(const QVariant &tempoResposta) {
    set(QStringLiteral("TEMPO_RESPOSTA"), tempoResposta);
    return *this;
}
ReceiverRow &ReceiverRow::keepAlive(const QVariant &tempoKeepAlive) {
    set(QStringLiteral("TEMPO_KEEPALIVE"), tempoKeepAlive);
    return *this;
}
ReceiverRow ReceiverRow::tcp(int slot, int port, int tempoResposta, int tempoKeepAlive) {
    ReceiverRow r(slot);
    r.name(QStringLiteral("TCP"))
        .mode(1)
        .active(1)
        .comPort(0, 3)
        .tcpPort(port)
        .udpPort(0)
        .replyDelay(tempoResposta)
        .keepAlive(tempoKeepAlive);
    return r;
}

GprsRow::GprsRow(const QString &imei)
    : TableRow(QStringLiteral("GPRS")) {
    set(QStringLiteral("IMEI"), imei);
}
GprsRow &GprsRow::account(const QString &conta) {
    set(QStringLiteral("CONTA"), conta);
    return *this;
}
GprsRow &GprsRow::status(const QString &status) {
    set(QStringLiteral("STATUS"), status);
    return *this;
}
GprsRow &GprsRow::date(const QDateTime &data) {
    set(QStringLiteral("DATA"), data);
    return *this;
}
GprsRow &GprsRow::blocked(int listaNegra) {
    set(QStringLiteral("LISTA_NEGRA"), listaNegra);
    return *this;
}
GprsRow &GprsRow::equipment(const QString &equipamento) {
    set(QStringLiteral("EQUIPAMENTO"), equipamento);
    return *this;
}
GprsRow &GprsRow::password(const QString &senhaAcesso) {
    set(QStringLiteral("SENHA_ACESSO"), senhaAcesso);
    return *this;
}

void mapPort(const QString &dataDir, int comNumber, const QString &device) {
    IniFile ini(dataDir + QStringLiteral("/Config.ini"));
    ini.writeString(QStringLiteral("Portas"), QStringLiteral("COM%1").arg(comNumber), device);
}

QString eventLine(const QString &codigo, const QString &hora, const QString &conta) {
    return eventline::build("01", "1", conta, "1", codigo, "003", "09/03/26", hora);
}

} // namespace tulmo::test
