#include "support/TestSupport.h"

#include "core/events/EventLine.h"
#include "core/store/Database.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

#include <algorithm>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The line of account conta with zone su (a number that tells the line apart) and code codigo.
QString numbered(const QString &conta, const QString &codigo, int su) {
    return eventline::build("01", "1", conta, "1", codigo, QString::number(su).rightJustified(3, '0'),
                            "05/03/09", "14:02:11", QStringLiteral("1133334444"));
}

QStringList recordedZones(QSqlDatabase db) {
    QStringList out;
    for (const QVariant &v : column(db, "select ARGUMENTO from EVENTOS order by SEQUENCIA"))
        out << v.toString();
    return out;
}

// The line of account conta with code codigo, told apart by its caller number tag; dt is its date.
QString tagged(const QString &conta, const QString &codigo, int tag,
               const QString &dt = QStringLiteral("05/03/09")) {
    return eventline::build("01", "1", conta, "1", codigo, "001", dt, "14:02:11",
                            QString::number(tag));
}

// The tags of the recorded lines (internal events have none), in recording order.
QList<int> recordedTags(QSqlDatabase db) {
    QList<int> out;
    for (const QVariant &v : column(db, "select IDECALL from EVENTOS where IDECALL <> '' "
                                        "order by SEQUENCIA"))
        out << v.toInt();
    return out;
}

// The tags of lines, by the account of each, in the order given.
QMap<QString, QList<int>> byAccount(const QList<int> &tags, const QStringList &lines) {
    QMap<QString, QList<int>> out;
    for (int t : tags)
        out[eventline::parse(lines[t])->conta] << t;
    return out;
}

QList<qint64> aheadRows(QSqlDatabase db) {
    QList<qint64> out;
    for (const QVariant &v : column(db, "select NUMERO from FILA_ADIANTADAS order by NUMERO"))
        out << v.toLongLong();
    return out;
}

} // namespace

class TestEventPump : public QObject {
    Q_OBJECT
private slots:
    void burstIsRecordedInFewTicksInFileOrderWithEachEventsEffects();
    void databaseFaultInTheMiddleLeavesTheRestQueuedInOrder();
    void killedAtRandomMomentsEveryLineIsRecordedOnce();
    void linesCommittedLeaveTheQueueEvenWhenTheFileCannotBeRewritten();
    void onlyLinesOnTheDiskAreRecorded();
    void linesLeftInTwoQueuesAreRecordedInTheOrderTheyReachedTheServer();
    void alarmsOfABacklogAreRecordedWithTheFirstBatchInEachAccountsOrderAndOnce();
    void linesRecordedAheadAreNotRecordedAgainAfterACrash();
};

// 500 lines queued at once: each tick records many of them in one transaction, in file
// order; each event still sets its own account's columns and plays its own sound, and the
// lists hear of each tick once.
void TestEventPump::burstIsRecordedInFewTicksInFileOrderWithEachEventsEffects() {
    Station s;
    for (const char *c : {"000001", "000002", "000003", "000004"})
        s.addAccount(c, QStringLiteral("CLIENTE ") + c);
    s.addCode("1130", "ALARME", 2, 0, 2, "/sons/alarme.wav");
    s.addCode("1401", "DESARME", 0, 1, 2, "/sons/desarme.wav");
    s.addCode("3401", "ARME", 1, 1, 2, "/sons/arme.wav");
    exec(s.db(), "update CLIENTES set DESARMADOS = 0, REARME = 1");
    EventQueue &queue = s.core->eventQueue();
    const char *codes[] = {"1130", "1401", "3401"};
    const QString sounds[] = {"once:/sons/alarme.wav", "once:/sons/desarme.wav",
                              "once:/sons/arme.wav"};
    QStringList expectedSounds, zones;
    int alarms = 0;
    for (int i = 0; i < 500; ++i) {
        const QString conta = QString::number(1 + i % 4).rightJustified(4, '0');
        // The last four lines: account 1 disarms, the others arm.
        const int c = i >= 496 ? (i % 4 == 0 ? 1 : 2) : i % 3;
        QVERIFY(queue.stage(numbered(conta, codes[c], i)));
        expectedSounds << sounds[c];
        alarms += c == 0;
        zones << QString::number(i).rightJustified(3, '0');
    }
    QSignalSpy received(&s.core->recorder(), &EventRecorder::receivedChanged);
    QSignalSpy pending(&s.core->recorder(), &EventRecorder::pendingRecorded);
    int ticks = 0;
    while (!queue.isEmpty() && ticks < 500) {
        tickAndSettle(*s.core);
        ++ticks;
    }
    QVERIFY(queue.isEmpty());
    QVERIFY2(ticks <= 100, qPrintable(QString("%1 ticks for 500 lines").arg(ticks)));
    QCOMPARE(received.count(), ticks);
    QVERIFY(pending.count() >= 1 && pending.count() <= ticks);
    QCOMPARE(recordedZones(s.db()), zones);
    QCOMPARE(s.sound.calls, expectedSounds);
    QCOMPARE(scalar(s.db(), "select count(*) from EVENTOS where TRATADO = 0").toInt(), alarms);
    QCOMPARE(s.accountColumn("DESARMADOS", "000001").toInt(), 1);
    for (const char *c : {"000002", "000003", "000004"}) {
        QCOMPARE(s.accountColumn("DESARMADOS", c).toInt(), 0);
        QCOMPARE(s.accountColumn("REARME", c).toInt(), 0);
    }
    QCOMPARE(s.accountColumn("REARME", "000001").toInt(), 0);
    QCOMPARE(scalar(s.db(), "select count(*) from CLIENTES where EVENTO_ATRASADO = 0").toInt(), 4);
    // The file holds nothing more, and a restart finds nothing to record again.
    EventQueue again(queue.filePath(), EventQueue::Numbering::Numbered);
    again.load();
    QVERIFY(again.isEmpty());
    QCOMPARE(again.identity(), queue.identity());
    QCOMPARE(again.numberAt(0), 501);
}

// A line whose values the database refuses is turned away alone, with what its statements had
// changed taken back; a fault of the database itself stops the batch at its line, the lines
// before it committed and the rest queued in order, announced once and recorded once the
// fault is gone.
void TestEventPump::databaseFaultInTheMiddleLeavesTheRestQueuedInOrder() {
    Station s;
    for (const char *c : {"001111", "006666", "007777"})
        s.addAccount(c, "CLIENTE");
    s.addCode("1130", "ALARME", 2, 1, 2, "/sons/alarme.wav");
    exec(s.db(), "alter table EVENTOS add constraint RECUSA_6666 check (CONTA <> '006666')");
    exec(s.db(), "create exception RECUSA 'evento recusado'");
    exec(s.db(), "create trigger RECUSA_7777 for EVENTOS before insert as "
                 "begin if (new.CONTA = '007777') then exception RECUSA; end");
    EventQueue &queue = s.core->eventQueue();
    const QStringList lines{numbered("1111", "1130", 1), numbered("6666", "1130", 2),
                            numbered("1111", "1130", 3), numbered("7777", "1130", 4),
                            numbered("1111", "1130", 5), numbered("1111", "1130", 6)};
    for (const QString &l : lines)
        QVERIFY(queue.append(l));
    QSignalSpy status(&s.core->pump(), &EventPump::databaseStatusChanged);
    QSignalSpy rejected(&s.core->pump(), &EventPump::lineRejected);

    QCOMPARE(s.core->pump().recordPass(), 3);
    QCOMPARE(recordedZones(s.db()), QStringList({"001", "003"}));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(rejected.first().first().toString(), lines[1]);
    QVERIFY(rejected.first().last().toString().contains("erro do banco de dados ao gravar o evento"));
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "006666").toInt(), 1); // taken back
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "007777").toInt(), 1);
    QCOMPARE(queue.lines(), lines.mid(3));
    EventQueue onDisk(queue.filePath(), EventQueue::Numbering::Numbered);
    onDisk.load();
    QCOMPARE(onDisk.lines(), lines.mid(3));
    QCOMPARE(onDisk.numberAt(0), 4);
    QCOMPARE(status.count(), 1);
    QVERIFY(status.first().first().toString().contains("gravar o evento"));
    QCOMPARE(s.sound.calls.size(), 2);

    QCOMPARE(s.core->pump().recordPass(), 0); // still refused: nothing moves, nothing is said
    QCOMPARE(status.count(), 1);
    exec(s.db(), "drop trigger RECUSA_7777");
    QCOMPARE(s.core->pump().recordPass(), 3);
    QVERIFY(queue.isEmpty());
    QCOMPARE(recordedZones(s.db()), QStringList({"001", "003", "004", "005", "006"}));
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.last().first().toString(), QString());
}

// A console killed at random moments of its recording (a batch half done, its commit, the
// rewrite of the queue file) and started again: once the queue is empty every line is in
// EVENTOS exactly once. The recording runs in another process, since only a real kill
// stops it between any two instructions.
void TestEventPump::killedAtRandomMomentsEveryLineIsRecordedOnce() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    const int kLines = 300;
    QByteArray file;
    QStringList zones;
    for (int i = 0; i < kLines; ++i) {
        file += numbered("4321", "1130", i).toUtf8() + "\r\n";
        zones << QString::number(i).rightJustified(3, '0');
    }
    {
        // A station in use: its database made by a first start with nothing queued.
        QProcess first;
        first.start(QStringLiteral(RECORDING_CHILD), {dir.path()});
        QVERIFY(first.waitForFinished(60000));
        QVERIFY2(first.readAllStandardOutput().endsWith("done\n"),
                 first.readAllStandardError().constData());
        QFile f(dir.filePath("Dados/Eventos_Log.dat"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(file);
    }
    // Killed at killAfterMs after it said it had started (-1: left to finish).
    int passMs = 2; // short passes: most of the time goes to commits and rewrites
    auto run = [&](int killAfterMs, QByteArray *out) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(RECORDING_CHILD), {dir.path(), QString::number(passMs)});
        if (!child.waitForStarted(10000)) return false;
        while (!out->contains("started") && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            *out += child.readAllStandardOutput();
        }
        if (killAfterMs >= 0 && !child.waitForFinished(killAfterMs)) {
            child.kill();
            child.waitForFinished(10000);
        } else {
            child.waitForFinished(120000);
        }
        *out += child.readAllStandardOutput();
        return true;
    };
    int killedMidway = 0;
    for (int k = 0; k < 12; ++k) {
        QByteArray out;
        QVERIFY(run(int(QRandomGenerator::global()->bounded(400)), &out));
        if (out.contains("done")) break;
        if (out.contains("left")) ++killedMidway;
    }
    QByteArray out;
    passMs = 0; // the rest as the console's tick records it
    QVERIFY(run(-1, &out));
    QVERIFY2(out.endsWith("done\n"), out.constData());
    QVERIFY2(killedMidway >= 2, qPrintable(QString("only %1 kills in the middle").arg(killedMidway)));

    Database database(dir.filePath("Dados/TULMO.FDB"));
    QString error;
    QVERIFY2(database.open(&error), qPrintable(error));
    QStringList got = recordedZones(database.primary());
    QCOMPARE(got.size(), kLines);
    QCOMPARE(got, zones); // each once, in file order
}

// The queue file cannot be replaced after a commit (here its temporary file's name is taken by
// a folder): the lines committed are not recorded again by the next passes, later lines go on,
// and after a restart the store's mark drops the ones the file still holds.
void TestEventPump::linesCommittedLeaveTheQueueEvenWhenTheFileCannotBeRewritten() {
    auto s = std::make_unique<Station>();
    EventQueue &queue = s->core->eventQueue();
    for (int i = 0; i < 3; ++i)
        QVERIFY(queue.append(numbered("1234", "1130", i)));
    QVERIFY(QDir().mkdir(queue.filePath() + ".tmp"));
    QCOMPARE(s->core->pump().recordPass(), 3);
    QVERIFY(queue.isEmpty());
    QVERIFY(queue.append(numbered("1234", "1130", 3)));
    QCOMPARE(s->core->pump().recordPass(), 1);
    QCOMPARE(recordedZones(s->db()), QStringList({"000", "001", "002", "003"}));
    {
        EventQueue onDisk(queue.filePath(), EventQueue::Numbering::Numbered);
        onDisk.load();
        QCOMPARE(onDisk.size(), 4); // nothing could be taken out of the file
    }
    QVERIFY(QDir().rmdir(queue.filePath() + ".tmp"));
    const QString folder = s->dir.path();
    s->dir.setAutoRemove(false);
    s.reset();
    ManualClock clock(QDateTime(QDate(2026, 3, 9), QTime(10, 0, 0)));
    ConsoleCore again(folder, clock, nullptr, nullptr);
    QString error;
    QVERIFY2(again.start(&error), qPrintable(error));
    again.pump().recordPass();
    QVERIFY(again.eventQueue().isEmpty());
    QCOMPARE(recordedZones(again.database().primary()),
             QStringList({"000", "001", "002", "003"}));
    QDir(folder).removeRecursively();
}

// A line still being flushed is not recorded: had the console died before its flush, its device
// (never answered) would send it again and it would be stored twice. It is recorded by the
// first tick after its flush, the line on the disk before it by the tick that came first.
void TestEventPump::onlyLinesOnTheDiskAreRecorded() {
    Station s;
    EventQueue &queue = s.core->eventQueue();
    QVERIFY(queue.append(numbered("1234", "1130", 0)));
    queue.holdWrites(true);
    QVERIFY(queue.stage(numbered("1234", "1130", 1)));
    s.core->Timer_AtualizarTimer();
    QVERIFY(waitFor([&] { return !s.core->pump().busy(); }, 10000));
    QCOMPARE(recordedZones(s.db()), QStringList({"000"}));
    QCOMPARE(queue.lines(), QList<QString>({numbered("1234", "1130", 1)}));
    QCOMPARE(queue.numberAt(0), 2);
    queue.holdWrites(false);
    tickAndSettle(*s.core);
    QCOMPARE(recordedZones(s.db()), QStringList({"000", "001"}));
    QVERIFY(queue.isEmpty());
    EventQueue onDisk(queue.filePath(), EventQueue::Numbering::Numbered);
    onDisk.load();
    QVERIFY(onDisk.isEmpty());
    QCOMPARE(onDisk.numberAt(0), 3);
}

// A module that reported to one workstation, then to another, then to the first again: its
// lines wait in two queues of the server, and are recorded in the order they reached it,
// whichever queue holds them.
void TestEventPump::linesLeftInTwoQueuesAreRecordedInTheOrderTheyReachedTheServer() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2, 0);
    struct Row {
        const char *fila;
        int numero, ordem;
    };
    const Row rows[] = {{"Q1", 0, 1}, {"Q1", 1, 2}, {"Q1", 2, 3}, {"Q2", 0, 4},
                        {"Q2", 1, 5}, {"Q2", 2, 6}, {"Q1", 3, 7}, {"Q1", 4, 8}};
    for (int z = 0; z < 8; ++z)
        exec(s.db(), "insert into FILA_EVENTOS (FILA, NUMERO, ORDEM, ESTACAO, LINHA) values (:f, "
                     ":n, :o, 'MESA', :l)",
             {{":f", rows[z].fila}, {":n", rows[z].numero}, {":o", rows[z].ordem},
              {":l", numbered("1234", "1130", z)}});
    bool more = true;
    for (int round = 0; more && round < 10; ++round) {
        bool done = false;
        s.core->recorder().recordSharedInBackground("Q3", 0, nullptr, [&](int, bool m) {
            more = m;
            done = true;
        });
        QVERIFY(waitFor([&] { return done; }, 10000));
    }
    QVERIFY(!more);
    QStringList zones;
    for (const QVariant &v : column(s.db(), "select ARGUMENTO from EVENTOS where CONTA = '001234' "
                                            "order by SEQUENCIA"))
        zones << v.toString();
    QCOMPARE(zones, QStringList({"000", "001", "002", "003", "004", "005", "006", "007"}));
    QCOMPARE(scalar(s.db(), "select count(*) from FILA_EVENTOS").toInt(), 0);
}

// 2,000 routine lines queued, a panic, an alarm and an emergency far behind the head: the
// first batch records them, each with the lines of its account before it and none after, while
// every other account keeps queue order. An account with lines in the head batch has its
// emergency recorded after them; a priority code on a line that can never be an event waits
// for its turn and is turned away then. Once the queue is empty every line is in EVENTOS once.
void TestEventPump::alarmsOfABacklogAreRecordedWithTheFirstBatchInEachAccountsOrderAndOnce() {
    Station s;
    for (const char *c : {"000001", "000002", "000003", "000004", "000006", "000007", "000008",
                          "000009"})
        s.addAccount(c, QStringLiteral("CLIENTE ") + c);
    s.addCode("1602", "TESTE PERIODICO", 6, 1);
    s.addCode("1130", "ALARME", 2, 0);
    s.addCode("1100", "EMERGENCIA", 4, 0);
    s.addCode("1120", "PANICO", 5, 0);
    exec(s.db(), "update CLIENTES set EVENTO_ATRASADO = 0");
    s.core->recorder().setLease(RecordBatch::kNoLease, true);
    EventQueue &queue = s.core->eventQueue();
    const int kLines = 2000;
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << tagged(QString::number(1 + i % 4).rightJustified(4, '0'), "1602", i);
    lines[5] = tagged("0007", "1602", 5);      // in the head batch
    lines[1000] = tagged("0007", "1602", 1000);
    lines[1200] = tagged("0007", "1100", 1200); // emergency
    lines[700] = tagged("0009", "1602", 700);
    lines[1500] = tagged("0009", "1602", 1500);
    lines[1800] = tagged("0009", "1120", 1800); // panic
    lines[1990] = tagged("0009", "1602", 1990); // after the panic
    lines[1900] = tagged("0008", "1130", 1900); // alarm, the account's first line
    lines[1950] = tagged("0006", "1130", 1950, "32/13/09"); // never an event
    for (const QString &l : std::as_const(lines))
        QVERIFY(queue.stage(l));
    QVERIFY(queue.flush());
    const qint64 first = queue.numberAt(0);
    const QList<int> shared{0, 499, 500, 700, 1000, 1200, 1800, 1900, 1990};
    for (int i : shared)
        exec(s.db(), "insert into FILA_EVENTOS (FILA, NUMERO, ORDEM, ESTACAO, LINHA) values (:f, "
                     ":n, :o, 'MESA', :l)",
             {{":f", queue.identity()}, {":n", first + i}, {":o", i}, {":l", lines[i]}});
    QSignalSpy rejected(&s.core->pump(), &EventPump::lineRejected);

    QCOMPARE(s.core->pump().recordBatch(600000), 500);
    QList<int> expected{700, 1500, 1800, 1900};
    for (int i = 0; i < 500; ++i)
        expected << i;
    expected << 1000 << 1200;
    QCOMPARE(recordedTags(s.db()), expected);
    QCOMPARE(scalar(s.db(), "select count(*) from EVENTOS where TRATADO = 0 and IDECALL <> ''")
                 .toInt(), 3);
    QCOMPARE(aheadRows(s.db()), QList<qint64>({first + 700, first + 1000, first + 1200,
                                               first + 1500, first + 1800, first + 1900}));
    QCOMPARE(scalar(s.db(), "select LAST_LINE from QUEUE_MARK where QUEUE_ID = :q",
                    {{":q", queue.identity()}}).toLongLong(), first + 499);
    QList<qint64> left;
    for (const QVariant &v : column(s.db(), "select NUMERO from FILA_EVENTOS order by NUMERO"))
        left << v.toLongLong();
    QCOMPARE(left, QList<qint64>({first + 500, first + 1990}));
    QCOMPARE(queue.size(), kLines - 500); // the lines ahead leave the file with their turn
    QCOMPARE(queue.numberAt(0), first + 500);
    QCOMPARE(rejected.count(), 0);

    for (int round = 0; !queue.isEmpty() && round < 20; ++round)
        s.core->pump().recordBatch(600000);
    QVERIFY(queue.isEmpty());
    const QList<int> got = recordedTags(s.db());
    QCOMPARE(got.size(), kLines - 1);
    QList<int> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    QList<int> all;
    for (int i = 0; i < kLines; ++i)
        if (i != 1950) all << i;
    QCOMPARE(sorted, all); // each once
    // Every account in queue order.
    const QMap<QString, QList<int>> accounts = byAccount(got, lines);
    QCOMPARE(accounts.size(), 7);
    for (auto a = accounts.cbegin(); a != accounts.cend(); ++a)
        QVERIFY2(std::is_sorted(a->cbegin(), a->cend()), qPrintable(a.key()));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(rejected.first().first().toString(), lines[1950]);
    QVERIFY(aheadRows(s.db()).isEmpty());
    QCOMPARE(scalar(s.db(), "select count(*) from FILA_EVENTOS").toInt(), 0);
    EventQueue onDisk(queue.filePath(), EventQueue::Numbering::Numbered);
    onDisk.load();
    QVERIFY(onDisk.isEmpty());
    QCOMPARE(onDisk.numberAt(0), first + kLines);
}

// The console dies after a batch that recorded lines ahead, before its queue file was
// rewritten: started again on the same file and database, it records every line once, the
// ones recorded ahead not again. A workstation that takes another's queue over from the
// server likewise leaves out the lines that one recorded ahead.
void TestEventPump::linesRecordedAheadAreNotRecordedAgainAfterACrash() {
    auto s = std::make_unique<Station>();
    s->addAccount("000005", "JOSE");
    s->addCode("1602", "TESTE PERIODICO", 6, 1);
    s->addCode("1130", "ALARME", 2, 0);
    EventQueue &queue = s->core->eventQueue();
    const int kLines = 1200;
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << tagged(i == 800 ? "0005" : "0001", "1602", i);
    lines[900] = tagged("0005", "1130", 900);
    lines[1100] = tagged("0005", "1130", 1100);
    for (const QString &l : std::as_const(lines))
        QVERIFY(queue.stage(l));
    QVERIFY(queue.flush());
    const qint64 first = queue.numberAt(0);
    // The file cannot be replaced: after the commit it still holds every line, as after a
    // crash between the two.
    QVERIFY(QDir().mkdir(queue.filePath() + ".tmp"));
    QCOMPARE(s->core->pump().recordBatch(600000), 500);
    QList<int> expected{800, 900, 1100};
    for (int i = 0; i < 500; ++i)
        expected << i;
    QCOMPARE(recordedTags(s->db()), expected);
    const QString folder = s->dir.path();
    const QString file = queue.filePath();
    s->dir.setAutoRemove(false);
    s.reset();
    {
        EventQueue onDisk(file, EventQueue::Numbering::Numbered);
        onDisk.load();
        QCOMPARE(onDisk.size(), kLines);
    }
    QVERIFY(QDir().rmdir(file + ".tmp"));

    ManualClock clock(QDateTime(QDate(2026, 3, 9), QTime(10, 0, 0)));
    ConsoleCore again(folder, clock, nullptr, nullptr);
    QString error;
    QVERIFY2(again.start(&error), qPrintable(error));
    QSqlDatabase db = again.database().primary();
    QCOMPARE(aheadRows(db), QList<qint64>({first + 800, first + 900, first + 1100}));
    for (int round = 0; !again.eventQueue().isEmpty() && round < 20; ++round)
        again.pump().recordBatch(600000);
    QVERIFY(again.eventQueue().isEmpty());
    QList<int> got = recordedTags(db);
    QCOMPARE(got.size(), kLines);
    QCOMPARE(got.mid(0, expected.size()), expected);
    QList<int> rest;
    for (int i = 500; i < kLines; ++i)
        if (i != 800 && i != 900 && i != 1100) rest << i;
    QCOMPARE(got.mid(expected.size()), rest);
    QVERIFY(aheadRows(db).isEmpty());

    // Another workstation's queue Q9 left on the server: its line 5 was recorded ahead there.
    exec(db, "insert into FILA_ADIANTADAS (FILA, NUMERO) values ('Q9', 5)");
    for (int n = 4; n <= 6; ++n)
        exec(db, "insert into FILA_EVENTOS (FILA, NUMERO, ORDEM, ESTACAO, LINHA) values ('Q9', "
                 ":n, :o, 'MESA', :l)",
             {{":n", n}, {":o", n}, {":l", tagged("0005", "1602", 5000 + n)}});
    bool more = true;
    for (int round = 0; more && round < 10; ++round) {
        bool done = false;
        again.recorder().recordSharedInBackground(again.eventQueue().identity(),
                                                  again.eventQueue().numberAt(0), nullptr,
                                                  [&](int, bool m) {
                                                      more = m;
                                                      done = true;
                                                  });
        QVERIFY(waitFor([&] { return done; }, 10000));
    }
    QVERIFY(!more);
    got = recordedTags(db);
    QCOMPARE(got.mid(kLines), QList<int>({5004, 5006}));
    QCOMPARE(scalar(db, "select count(*) from FILA_EVENTOS").toInt(), 0);
    QVERIFY(aheadRows(db).isEmpty());
    QDir(folder).removeRecursively();
}

QTEST_GUILESS_MAIN(TestEventPump)
#include "test_eventpump.moc"
