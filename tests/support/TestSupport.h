#pragma once

#include "core/common/Clock.h"
#include "core/common/FileChooser.h"
#include "core/common/Prompt.h"
#include "core/common/Sound.h"
#include "core/console/ConsoleCore.h"
#include "core/reception/SlotWriter.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace tulmo::test {

// Runs the event loop until cond holds or timeoutMs passed.
template <typename F> bool waitFor(F cond, int timeoutMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1); // the peer is another process or the kernel: don't spin
    }
    return true;
}

// One tick of the one-second driver, then what it started in the background is waited for:
// the recording of the durable lines, committed on the recorder's own thread, the internal
// events, and the replacements of the queue file. A test reads EVENTOS and the queue file
// right after it. Not while the queue's writer is held.
void tickAndSettle(ConsoleCore &core);
// The same wait without a tick.
void settle(ConsoleCore &core);

// A device on loopback: what it sends, what the console answers.
struct LoopbackDevice {
    QTcpSocket s;
    QByteArray received;

    bool connectTo(quint16 port) {
        s.connectToHost(QHostAddress::LocalHost, port);
        return waitFor([&] { return s.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QByteArray &b) {
        s.write(b);
        s.flush();
    }
    // Everything the console sent, once at least `atLeast` bytes came or timeoutMs passed.
    QByteArray recv(qsizetype atLeast = 1, int timeoutMs = 3000) {
        waitFor(
            [&] {
                received += s.readAll();
                return received.size() >= atLeast;
            },
            timeoutMs);
        received += s.readAll();
        return std::exchange(received, QByteArray());
    }
    // True when nothing arrives within ms.
    bool silent(int ms = 150) {
        waitFor([] { return false; }, ms);
        received += s.readAll();
        return received.isEmpty();
    }
};

// A prompt that records every message and answers questions from a script.
class ScriptedPrompt : public Prompt {
public:
    struct Shown {
        QString text, caption;
        Icon icon;
    };
    void message(const QString &text, const QString &caption, Icon icon) override {
        shown.append({text, caption, icon});
        if (onMessage) onMessage(text);
    }
    bool question(const QString &text, const QString &caption, Icon icon, bool) override {
        shown.append({text, caption, icon});
        if (onQuestion) onQuestion(text);
        return answers.isEmpty() ? false : answers.takeFirst();
    }
    // Text questions are recorded like messages (label as text) and answered in order; an
    // empty script or a nullopt answer is the operator's Cancel.
    std::optional<QString> askText(const QString &caption, const QString &label,
                                   const QString &initial) override {
        shown.append({label, caption, Icon::Question});
        askedInitial.append(initial);
        return textAnswers.isEmpty() ? std::nullopt : textAnswers.takeFirst();
    }
    QList<std::optional<QString>> textAnswers;
    QStringList askedInitial;
    // With holdAlerts, alerts stay open, in line, until closeAlert closes the oldest, as the
    // console's own window keeps them; otherwise each is closed as soon as it is shown.
    void alert(const QString &text, const QString &caption, Icon icon,
               std::function<void()> closed) override {
        if (!holdAlerts) return Prompt::alert(text, caption, icon, std::move(closed));
        message(text, caption, icon);
        openAlerts.append(closed ? std::move(closed) : std::function<void()>([] {}));
    }
    void closeAlert() { openAlerts.takeFirst()(); }
    QList<Shown> shown;
    QList<bool> answers;
    std::function<void(const QString &)> onMessage;
    // Runs while a question waits for its answer, as the operator's time to answer.
    std::function<void(const QString &)> onQuestion;
    bool holdAlerts = false;
    QList<std::function<void()>> openAlerts;
};

// Answers the file dialog with the file the test chose, and records what was asked.
class ScriptedChooser : public FileChooser {
public:
    QString openFile(const QString &caption, const QString &folder,
                     const QString &filter) override {
        asked << (caption + QLatin1Char('|') + folder + QLatin1Char('|') + filter);
        return answer;
    }
    QString saveFile(const QString &caption, const QString &suggested, const QString &filter,
                     const QString &defaultSuffix) override {
        asked << (caption + QLatin1Char('|') + suggested + QLatin1Char('|') + filter +
                  QLatin1Char('|') + defaultSuffix);
        return answer;
    }
    QString answer;
    QStringList asked;
};

// Records what the console asked of its sound output.
class RecordingSound : public SoundOutput {
public:
    void stopPlayer() override { calls << QStringLiteral("stop"); }
    void playRepeating(const QString &path) override { calls << QStringLiteral("loop:") + path; }
    void playOnce(const QString &path) override { calls << QStringLiteral("once:") + path; }
    QStringList calls;
};

// A FIFO at path, for the readers that must refuse one. Opening a FIFO to read waits for a
// writer: should a reader under test do that, a watchdog opens the writing end once
// releaseAfterMs have passed, so that the test fails (releasedAReader) instead of hanging.
class Fifo {
public:
    explicit Fifo(const QString &path, int releaseAfterMs = 3000);
    ~Fifo();
    Fifo(const Fifo &) = delete;
    Fifo &operator=(const Fifo &) = delete;
    bool ok() const { return m_ok; }
    bool releasedAReader() const { return m_released; }

private:
    QByteArray m_path;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_released{false};
    std::thread m_watchdog;
};

// A loopback TCP port free at the moment of asking.
quint16 freePort();

// A pseudo-terminal: the console opens the slave side as a serial port, the test reads and
// writes the master side as the receiver would.
class Pty {
public:
    Pty();
    ~Pty();
    bool ok() const { return m_master >= 0; }
    const QString &slavePath() const { return m_slave; }
    // Reads what is available within timeoutMs (processing Qt events meanwhile).
    QByteArray readAll(int timeoutMs = 1000, qsizetype atLeast = 1);
    bool write(const QByteArray &bytes);

private:
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
};

// The event line of a receiver frame on 09/03/26 at hora: account, code, zone 003.
QString eventLine(const QString &codigo, const QString &hora, const QString &conta = "1234");

// Runs sql on db and fails loudly when it fails.
void exec(QSqlDatabase db, const QString &sql);
void exec(QSqlDatabase db, const QString &sql, const QVariantMap &params);
// The first column of the first row (invalid when no row).
QVariant scalar(QSqlDatabase db, const QString &sql, const QVariantMap &params = {});
// All rows of the first column.
QVariantList column(QSqlDatabase db, const QString &sql, const QVariantMap &params = {});
// Column names of a table, upper case, in position order.
QStringList columnsOf(QSqlDatabase db, const QString &table);

// A row of a table written column by column: only the columns given are written, in the
// order given, so the table's own defaults stand for the others.
class TableRow {
public:
    // Writes the row into db and fails loudly when that fails.
    void insertInto(QSqlDatabase db) const;

protected:
    explicit TableRow(const QString &table)
        : m_table(table) {}
    void set(const QString &column, const QVariant &value);

private:
    QString m_table;
    QStringList m_columns;
    QVariantList m_values;
};

// A receiver slot (RECEIVER). Times take a null QVariant for a null column.
class ReceiverRow : public TableRow {
public:
    explicit ReceiverRow(int slot);
    ReceiverRow &name(const QString &nome);
    ReceiverRow &mode(int modoComunicacao); // 0 serial, 1 TCP, 2 UDP
    ReceiverRow &active(int ativo);
    ReceiverRow &sendsSms(int sendsSms);
    ReceiverRow &comPort(int portaCom, int baudsCom = 3);
    ReceiverRow &tcpPort(int portaTcp);
    ReceiverRow &udpPort(int portaUdp);
    ReceiverRow &replyDelay(const QVariant &tempoResposta);
    ReceiverRow &keepAlive(const QVariant &tempoKeepAlive);
    // A TCP receiver as the device link tests use it: serial port 0 at the third speed.
    static ReceiverRow tcp(int slot, int port, int tempoResposta, int tempoKeepAlive);
};

// A device known by its identifier (GPRS).
class GprsRow : public TableRow {
public:
    explicit GprsRow(const QString &imei);
    GprsRow &account(const QString &conta);
    GprsRow &status(const QString &status);
    GprsRow &date(const QDateTime &data);
    GprsRow &blocked(int listaNegra);
    GprsRow &equipment(const QString &equipamento);
    GprsRow &password(const QString &senhaAcesso);
};

// Writes a Config.ini mapping COMn to a device, in dataDir.
void mapPort(const QString &dataDir, int comNumber, const QString &device);

// One console core on a fresh data folder.
struct Station {
    QTemporaryDir dir;
    ManualClock clock;
    ScriptedPrompt prompt;
    RecordingSound sound;
    std::unique_ptr<ConsoleCore> core;

    explicit Station(const QDateTime &start = QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0)))
        : clock(start) {
        core = std::make_unique<ConsoleCore>(dir.path(), clock, &prompt, &sound);
        QString error;
        if (!core->start(&error)) qFatal("start-up failed: %s", qPrintable(error));
        // The tests flood one account to drive the queue and the lists; the runaway check,
        // tested by itself, would take those floods for a runaway panel.
        core->recorder().runaway().setLimits({RunawayWatch::kMaxSignals, 1});
    }
    QSqlDatabase db() { return core->database().primary(); }

    void addAccount(const QString &conta, const QString &nome, const QString &celular = QString()) {
        exec(db(),
             "insert into CLIENTES (CONTA, NOME, CELULAR, DESARMADOS, REARME, EVENTO_ATRASADO, "
             "TEMPO_ATRASO, ULTIMO_EVENTO) values (:c, :n, :cel, 0, 0, 1, 1440, :u)",
             {{":c", conta},
              {":n", nome},
              {":cel", celular},
              {":u", QDateTime(QDate(2020, 1, 1), QTime(0, 0))}});
    }
    void addCode(const QString &codigo, const QString &descricao, int tipo, int automatico = 1,
                int prioridade = 2, const QString &som = QString(), int continuo = 0, int sms = 0) {
        exec(db(),
             "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values (:c, :d, :t, "
             ":r, :p, :s, :sc, :e) matching (CODIGO_EVENTO)",
             {{":c", codigo},
              {":d", descricao},
              {":t", tipo},
              {":r", automatico},
              {":p", prioridade},
              {":s", som},
              {":sc", continuo},
              {":e", sms}});
    }
    void addName(const QString &tabela, const QString &coluna, const QString &conta, int numero,
              const QString &descricao) {
        const QString descCol = tabela == "PARTICOES" ? "NOME_PARTICAO" : "DESCRICAO";
        exec(db(),
             QString("insert into %1 (CONTA, %2, %3) values (:c, :n, :d)")
                 .arg(tabela, coluna, descCol),
             {{":c", conta}, {":n", numero}, {":d", descricao}});
    }
    RecordResult record(const QString &l) { return core->recorder().Grava_Evento_Banco_Dados(l); }
    QVariant last(const QString &col) {
        return scalar(db(),
                      QString("select first 1 %1 from EVENTOS order by SEQUENCIA desc").arg(col));
    }
    int eventCount() { return scalar(db(), "select count(*) from EVENTOS").toInt(); }
    QVariant accountColumn(const QString &col, const QString &conta) {
        return scalar(db(), QString("select %1 from CLIENTES where CONTA = :c").arg(col),
                      {{":c", conta}});
    }
};

} // namespace tulmo::test
