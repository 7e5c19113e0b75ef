#include "support/TestSupport.h"

#include "core/console/DataFolderLock.h"
#include "core/console/HeadlessOutput.h"
#include "core/events/EventLine.h"
#include "core/reception/LineLog.h"

#include <QFile>
#include <QTest>

#include <cstdio>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Monday 9 March 2026, 08:00:00.
const QDateTime kInicio(QDate(2026, 3, 9), QTime(8, 0, 0));

// A stream the output writes to, read back line by line.
struct Stream {
    std::FILE *f = std::tmpfile();
    ~Stream() { std::fclose(f); }
    qint64 read = 0;
    // The lines written since the last call.
    QStringList newLines() {
        std::fflush(f);
        std::fseek(f, long(read), SEEK_SET);
        QByteArray bytes;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.append(buf, qsizetype(n));
        read += bytes.size();
        return QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
    }
};

// A station whose core shows what it would show through a headless output.
struct Headless : Station {
    Stream out, err;
    HeadlessOutput output{clock, out.f, err.f};

    Headless()
        : Station(kInicio) {
        addAccount("001234", "JOSE");
        addCode("1130", "ROUBO", 2, 0);
    }
    QString stamp() const { return clock.now().toString("dd/MM/yyyy HH:mm:ss") + " "; }
    // Records a burglary of zone zona, which waits for an operator.
    bool recordPending(const QString &zona) {
        const QString line =
            eventline::build("01", "1", "1234", "1", "1130", zona, "09/03/26", "07:59:00");
        return core->recorder().Grava_Evento_Banco_Dados(line).status ==
               RecordResult::Status::Stored;
    }
};

} // namespace

class TestHeadlessOutput : public QObject {
    Q_OBJECT
private slots:
    void whatTheConsoleWouldShowComesOutAsStampedLines();
    void pendingEventsAreToldOnceAndAFloodIsCounted();
    void nobodyAnswersSoQuestionsAreAnsweredNo();
    void aDataFolderIsHeldByOneProcess();
};

void TestHeadlessOutput::whatTheConsoleWouldShowComesOutAsStampedLines() {
    Headless h;
    QVERIFY(h.recordPending("001"));
    h.output.watch(h.core->services());
    QCOMPARE(h.out.newLines(), QStringList({h.stamp() + "Eventos pendentes: 1"}));

    // The port monitor's lines, with the time they came and a frame's control bytes by code.
    h.clock.advanceSecs(3);
    h.core->dm().portMonitor().append(2, "Porta 2:5011 181234E13001003\x14");
    QCOMPARE(h.out.newLines(), QStringList({h.stamp() + "Porta 2:5011 181234E13001003<14>"}));

    // The status bar's faults, and their end.
    emit h.core->pump().databaseStatusChanged("Gravação de eventos aguardando o banco de dados");
    emit h.core->pump().databaseStatusChanged(QString());
    QCOMPARE(h.out.newLines(),
             QStringList({h.stamp() + "Falha: Gravação de eventos aguardando o banco de dados",
                          h.stamp() + "Falha resolvida: a recepção e a gravação seguem."}));

    // Supervision: the rearm check and the inactivity scan, through the output alone (no
    // prompt, no sound).
    h.sound.calls.clear(); // the recorded event's own sound
    exec(h.db(), "update CLIENTES set DESARMADOS = 1, EVENTO_ATRASADO = 0, ULTIMO_EVENTO = :u",
         {{":u", QDateTime(QDate(2026, 3, 1), QTime(0, 0))}});
    exec(h.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('001234', "
                 "'SEG', '08:00:00', 1)");
    h.core->Timer_AtualizarTimer();
    h.core->TimerInativosTimer();
    const QStringList alerts = h.out.newLines();
    QCOMPARE(alerts.size(), 2);
    QCOMPARE(alerts[0], h.stamp() + "Alerta: Cliente JOSE Está Desarmado");
    QCOMPARE(alerts[1], h.stamp() + "Alerta: Cliente 001234-JOSE Está inativo desde 01/03/2026 "
                                    "00:00:00");
    QCOMPARE(h.prompt.shown.size(), 0);
    QCOMPARE(h.sound.calls, QStringList());
    QCOMPARE(h.err.newLines(), QStringList());
}

void TestHeadlessOutput::pendingEventsAreToldOnceAndAFloodIsCounted() {
    Headless h;
    h.output.watch(h.core->services());
    QCOMPARE(h.out.newLines(), QStringList()); // nothing pending at the start: nothing said
    QVERIFY(h.recordPending("003"));
    QCOMPARE(h.out.newLines(),
             QStringList({h.stamp() + "Evento pendente: 001234 JOSE — 1130 ROUBO 3, partição 1 "
                                      "PARTIÇÃO 1, zona/usuário 003, de 09/03/2026 07:59:00"}));
    // An announcement with nothing new pending says nothing again; a treated event is no
    // pending one.
    emit h.core->recorder().pendingRecorded();
    exec(h.db(), "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, DESCRICAO, TRATADO) "
                 "values ('001234', 'JOSE', '1602', 'TESTE', 1)");
    emit h.core->recorder().pendingRecorded();
    QCOMPARE(h.out.newLines(), QStringList());

    // A flood told in one announcement: the first ones, then the count.
    const int n = HeadlessOutput::kPendingPerBurst + 5;
    h.core->recorder().holdAnnouncements();
    for (int i = 0; i < n; ++i)
        QVERIFY(h.recordPending(QString::number(100 + i)));
    h.core->recorder().releaseAnnouncements();
    const QStringList told = h.out.newLines();
    QCOMPARE(told.size(), HeadlessOutput::kPendingPerBurst + 1);
    QVERIFY2(told.first().contains(", zona/usuário 100, "), qPrintable(told.first()));
    QVERIFY2(told[HeadlessOutput::kPendingPerBurst - 1].contains(", zona/usuário 199, "),
             qPrintable(told[HeadlessOutput::kPendingPerBurst - 1]));
    QCOMPARE(told.last(), h.stamp() + QString("Eventos pendentes: %1").arg(n + 1));
    // The rest of the flood is not told later as if it were new.
    QVERIFY(h.recordPending("300"));
    const QStringList after = h.out.newLines();
    QCOMPARE(after.size(), 1);
    QVERIFY2(after[0].contains(", zona/usuário 300, "), qPrintable(after[0]));
}

// The core's messages become lines, each on one line; its start-up question about a lost
// database gets No, so an empty database never replaces it unasked.
void TestHeadlessOutput::nobodyAnswersSoQuestionsAreAnsweredNo() {
    ManualClock clock(kInicio);
    Stream out, err;
    HeadlessOutput output(clock, out.f, err.f);
    output.message("Primeira linha.\n\nSegunda linha.", "Tulmo", Prompt::Icon::Warning);
    bool closed = false;
    output.alert("Receptora em conflito", "Tulmo", Prompt::Icon::Warning, [&] { closed = true; });
    QVERIFY(closed);
    QVERIFY(!output.question("Deseja criar?", "Tulmo", Prompt::Icon::Warning, true));
    output.error("Não foi possível.\r\nFim.");
    QCOMPARE(out.newLines(),
             QStringList({"09/03/2026 08:00:00 Primeira linha. Segunda linha.",
                          "09/03/2026 08:00:00 Receptora em conflito",
                          "09/03/2026 08:00:00 Deseja criar? — Sem operador para responder: Não."}));
    QCOMPARE(err.newLines(), QStringList({"09/03/2026 08:00:00 Não foi possível. Fim."}));

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    QFile queue(dir.path() + "/Dados/Eventos_Log.dat");
    QVERIFY(queue.open(QIODevice::WriteOnly));
    queue.close();
    ConsoleCore core(dir.path(), clock, &output, nullptr);
    QString error;
    QVERIFY(!core.start(&error));
    QVERIFY2(error.contains("nenhum banco novo foi criado"), qPrintable(error));
    QVERIFY(!QFile::exists(dir.path() + "/Dados/TULMO.FDB"));
    const QStringList asked = out.newLines();
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked[0].contains("Deseja criar um banco de dados novo e vazio?"), qPrintable(asked[0]));
}

// The lock is the kernel's, per open file: a second holder, even in the same process, is
// refused with the first one's name, and takes the folder once the first lets it go.
void TestHeadlessOutput::aDataFolderIsHeldByOneProcess() {
    QTemporaryDir dir;
    const QString dados = dir.path() + "/Dados";
    DataFolderLock first(dados), second(dados);
    QString error;
    QVERIFY2(first.acquire("tulmo-recepcao", &error), qPrintable(error));
    QVERIFY(QFileInfo(dados).isDir()); // made as the console's start makes it
    QVERIFY(!second.acquire("tulmo", &error));
    QCOMPARE(error, QString("Dados/ já está em uso por tulmo-recepcao (processo %1).")
                        .arg(QCoreApplication::applicationPid()));
    first.release();
    QVERIFY2(second.acquire("tulmo", &error), qPrintable(error));
    QVERIFY(!first.acquire("tulmo-recepcao", &error));
    QCOMPARE(error, QString("Dados/ já está em uso por tulmo (processo %1).")
                        .arg(QCoreApplication::applicationPid()));

    // A lock file that says nothing readable still refuses, without a name.
    QCOMPARE(DataFolderLock::describeHolder("tulmo 1234\n"), QString("tulmo (processo 1234)"));
    QCOMPARE(DataFolderLock::describeHolder(""), QString());
    QCOMPARE(DataFolderLock::describeHolder("lixo"), QString());
    QCOMPARE(DataFolderLock::describeHolder("tulmo -5"), QString());
    QFile lock(dados + "/tulmo.lock");
    QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.close();
    QVERIFY(!first.acquire("tulmo-recepcao", &error));
    QCOMPARE(error, QString("Dados/ já está em uso por outro processo."));

    // A folder that cannot be made says which.
    QFile file(dir.path() + "/arquivo");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    DataFolderLock nowhere(dir.path() + "/arquivo/Dados");
    QVERIFY(!nowhere.acquire("tulmo", &error));
    QVERIFY2(error.startsWith("Não foi possível criar a pasta de dados"), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestHeadlessOutput)
#include "test_headlessoutput.moc"
