#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventLine.h"
#include "core/store/Schema.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QSerialPort>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Sunday 8 March 2026, 22:15.
const QDateTime kSunday(QDate(2026, 3, 8), QTime(22, 15, 0));

QString line(const QString &conta, const QString &codigo, const QString &su = QStringLiteral("003"),
             const QString &pt = QStringLiteral("1"),
             const QString &dt = QStringLiteral("05/03/09"),
             const QString &tm = QStringLiteral("14:02:11"),
             const std::optional<QString> &id = QStringLiteral("1133334444")) {
    return eventline::build("01", "1", conta, pt, codigo, su, dt, tm, id);
}

// Every signal of the recorder, counted.
struct Announcements {
    explicit Announcements(EventRecorder &g)
        : spies{std::make_shared<QSignalSpy>(&g, &EventRecorder::silentChanged),
                std::make_shared<QSignalSpy>(&g, &EventRecorder::disarmedChanged),
                std::make_shared<QSignalSpy>(&g, &EventRecorder::awaitingArmChanged),
                std::make_shared<QSignalSpy>(&g, &EventRecorder::pendingRecorded),
                std::make_shared<QSignalSpy>(&g, &EventRecorder::receivedChanged)} {}
    QList<int> counts() const {
        QList<int> c;
        for (const auto &s : spies)
            c << s->count();
        return c;
    }
    QList<std::shared_ptr<QSignalSpy>> spies;
};

// A receiver on COM3 (slot 1) that sends SMS.
void smsReceiver(Station &s, Pty &receiver) {
    mapPort(s.core->dataDir(), 3, receiver.slavePath());
    exec(s.db(), "insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, ATIVO, PORTA_COM, "
                 "BAUDS_COM, ENVIA_SMS) values (1, 'Receiver 1', 0, 1, 2, 3, 1)");
    QString err;
    QVERIFY2(s.core->dm().openSerialPort(1, 2, 3, &err), qPrintable(err));
    QCOMPARE(receiver.readAll(1000, 2), QByteArray("SP"));
}

// Holds one account's CLIENTES row in a transaction of a connection of its own, on a thread
// of its own (a connection belongs to its thread), until the console's recording is seen
// waiting on it; then commits, which ends the wait with an update conflict.
class RowHolder : public QThread {
public:
    RowHolder(QString file, QString conta)
        : m_file(std::move(file))
        , m_conta(std::move(conta)) {}
    QSemaphore held;
    std::atomic<bool> sawWaiting{false};

protected:
    void run() override {
        {
            QSqlDatabase holder = openConnection(QStringLiteral("holder"));
            QSqlDatabase watcher = openConnection(QStringLiteral("watcher"));
            holder.transaction();
            QSqlQuery lock(holder);
            lock.prepare("update CLIENTES set NOME = NOME where CONTA = :c");
            lock.bindValue(":c", m_conta);
            lock.exec();
            held.release();
            QElapsedTimer t;
            t.start();
            while (!sawWaiting && t.elapsed() < 10000) {
                watcher.transaction(); // a fresh snapshot of the monitoring tables
                QSqlQuery q(watcher);
                q.exec("select count(*) from MON$STATEMENTS where MON$STATE = 1 and "
                       "MON$ATTACHMENT_ID <> CURRENT_CONNECTION and "
                       "MON$SQL_TEXT containing 'ULTIMO_EVENTO'");
                sawWaiting = q.next() && q.value(0).toInt() > 0;
                q.finish();
                watcher.commit();
                if (!sawWaiting) QThread::msleep(5);
            }
            lock.finish();
            holder.commit();
            holder.close();
            watcher.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        QSqlDatabase::removeDatabase(QStringLiteral("watcher"));
    }

private:
    QSqlDatabase openConnection(const QString &name) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QIBASE", name);
        db.setDatabaseName(m_file);
        db.setUserName(QString::fromLatin1(Database::kUser));
        db.setPassword(QString::fromLatin1(Database::kPassword));
        db.open();
        return db;
    }
    QString m_file, m_conta;
};

} // namespace

class TestEventRecorder : public QObject {
    Q_OBJECT
private slots:
    void storesAllFourteenValues();
    void typeNamesOfEveryCode_data();
    void typeNamesOfEveryCode();
    void descriptionsFromUsersAndZones();
    void unregisteredAccountKeepsRawZone();
    void overlongDescriptionIsCut();
    void partitionName();
    void disarmAndArmMoveTheSupervisionColumns();
    void scheduleWarningOnMarkedHourOnly();
    void pendingHookOnlyForManualCodes();
    void soundDecisions();
    void smsGoesToEveryMarkedReceiver();
    void badLinesAreRejectedWithTheirReasonAndTheNextIsRecorded();
    void lineTheRejectsFileCannotTakeStaysQueuedWithoutItsInternalEvent();
    void shortLineDoesNothing();
    void unreachableDatabaseKeepsTheLineAtTheHead();
    void failedInsertPlaysSendsAndChangesNothingUntilStored();
    void updateConflictKeepsTheLineUntilTheConflictEnds();
    void failedCommitKeepsTheLineAndTheSameLineIsStoredLater();
    void aRecordingWaitingOnTheDatabaseDoesNotHoldTheEventLoop();
};

void TestEventRecorder::storesAllFourteenValues() {
    Station s;
    s.addAccount("001234", "MARIA DA SILVA");
    s.addCode("1130", "ALARME ROUBO", 2, 1, 3);
    s.addName("ZONAS", "ZONA", "001234", 3, "SALA");
    const auto r = s.record(line("1234", "1130"));
    QCOMPARE(r.status, RecordResult::Status::Stored);
    QCOMPARE(s.last("CONTA").toString(), QString("001234"));
    QCOMPARE(s.last("CLIENTE").toString(), QString("MARIA DA SILVA"));
    QCOMPARE(s.last("CODIGO_ALARME").toString(), QString("1130"));
    QCOMPARE(s.last("ARGUMENTO").toString(), QString("003"));
    QCOMPARE(s.last("NUMERO_PARTICAO").toInt(), 1);
    QCOMPARE(s.last("NOME_PARTICAO").toString(), QString("PARTIÇÃO 1"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("ALARME ROUBO SALA"));
    QCOMPARE(s.last("TIPO").toString(), QString("ALARME"));
    QCOMPARE(s.last("DATA").toDateTime(), QDateTime(QDate(2009, 3, 5), QTime(14, 2, 11)));
    QCOMPARE(s.last("DATA_INTERVENCAO").toDateTime(), kSunday);
    QCOMPARE(s.last("DETALHES").toString(), QString("Evento Padrão"));
    QCOMPARE(s.last("IDECALL").toString(), QString("1133334444"));
    QCOMPARE(s.last("TRATADO").toInt(), 1);
    QCOMPARE(s.last("PRIORIDADE").toInt(), 3);
    QVERIFY(s.last("SEQUENCIA").toInt() > 0);
    // A line without caller identification stores an empty one; a four-digit year reads too.
    QCOMPARE(
        s.record(line("1234", "1130", "003", "1", "05/03/2009", "14:02:12", std::nullopt)).status,
        RecordResult::Status::Stored);
    QCOMPARE(s.last("IDECALL").toString(), QString());
    QCOMPARE(s.last("DATA").toDateTime(), QDateTime(QDate(2009, 3, 5), QTime(14, 2, 12)));
}

void TestEventRecorder::typeNamesOfEveryCode_data() {
    QTest::addColumn<int>("tipo");
    QTest::addColumn<QString>("nome");
    const char *names[] = {"DESARMADO", "ARMADO",    "ALARME",   "RESTAURAÇÃO", "EMERGENCIA",
                           "PANICO",    "PERIÓDICO", "REGISTRO", "FALHAS"};
    for (int t = 0; t <= 8; ++t)
        QTest::addRow("%d", t) << t << QString::fromUtf8(names[t]);
    QTest::addRow("9") << 9 << QString("9");
    QTest::addRow("10") << 10 << QString("INTERNO");
    QTest::addRow("11") << 11 << QString("11");
    QTest::addRow("missing") << -1 << QString();
}

void TestEventRecorder::typeNamesOfEveryCode() {
    QFETCH(int, tipo);
    QFETCH(QString, nome);
    Station s;
    s.addAccount("001234", "JOSE");
    // 1999 is no standard code: a new database's catalogue does not have it.
    if (tipo >= 0) s.addCode("1999", "CODIGO", tipo, 1, 4);
    QCOMPARE(s.record(line("1234", "1999")).status, RecordResult::Status::Stored);
    QCOMPARE(s.last("TIPO").toString(), nome);
    QCOMPARE(s.last("CLIENTE").toString(),
             tipo == 10 ? QString("EVENTO INTERNO") : QString("JOSE"));
    if (tipo < 0) {
        // Not in the catalogue: empty description and type, priority 0, left pending.
        QCOMPARE(s.last("DESCRICAO").toString(), QString());
        QCOMPARE(s.last("PRIORIDADE").toInt(), 0);
        QCOMPARE(s.last("TRATADO").toInt(), 0);
    }
}

void TestEventRecorder::descriptionsFromUsersAndZones() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1401", "DESARME", 0);
    s.addCode("3401", "ARME", 1);
    s.addCode("3130", "RESTAURO", 3);
    s.addName("USUARIOS", "USUARIO", "001234", 3, "JOAO");
    s.addName("ZONAS", "ZONA", "001234", 7, "PORTA");
    s.record(line("1234", "1401", "003"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("DESARME JOAO"));
    s.record(line("1234", "3401", "005"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("ARME 5")); // no user 5: its number
    s.record(line("1234", "3130", "007"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("RESTAURO PORTA"));
    s.record(line("1234", "3130", "003"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("RESTAURO 3")); // user 3 is no zone
}

void TestEventRecorder::unregisteredAccountKeepsRawZone() {
    Station s;
    s.addCode("1130", "ALARME", 2);
    s.addCode("1602", "TESTE", 6);
    QCOMPARE(s.record(line("4321", "1130", "012")).status, RecordResult::Status::Stored);
    QCOMPARE(s.last("CLIENTE").toString(), QString("Não Cadastrado"));
    QCOMPARE(s.last("DESCRICAO").toString(), QString("ALARME 012"));
    // A zone that is no number only matters when it is looked up.
    QCOMPARE(s.record(line("4321", "1130", "A1")).status, RecordResult::Status::Stored);
    QCOMPARE(s.last("DESCRICAO").toString(), QString("ALARME A1"));
    s.addAccount("001111", "ANA");
    QCOMPARE(s.record(line("1111", "1602", "XY")).status, RecordResult::Status::Stored);
    QCOMPARE(s.last("DESCRICAO").toString(), QString("TESTE"));
}

void TestEventRecorder::overlongDescriptionIsCut() {
    Station s;
    s.addAccount("001234", "JOSE");
    const QString desc40 = QString("D").repeated(40);
    const QString user20 = QString("U").repeated(20);
    s.addCode("1401", desc40, 0);
    s.addName("USUARIOS", "USUARIO", "001234", 1, user20);
    QCOMPARE(s.record(line("1234", "1401", "001")).status, RecordResult::Status::Stored);
    QCOMPARE(s.last("DESCRICAO").toString(), (desc40 + " " + user20).left(60));
}

void TestEventRecorder::partitionName() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1602", "TESTE", 6);
    s.addName("PARTICOES", "PARTICAO", "001234", 2, "LOJA");
    s.addName("PARTICOES", "PARTICAO", "001234", 3, "");
    s.record(line("1234", "1602", "000", "02"));
    QCOMPARE(s.last("NOME_PARTICAO").toString(), QString("LOJA"));
    QCOMPARE(s.last("NUMERO_PARTICAO").toInt(), 2);
    s.record(line("1234", "1602", "000", "3"));
    QCOMPARE(s.last("NOME_PARTICAO").toString(), QString("PARTIÇÃO 3"));
}

void TestEventRecorder::disarmAndArmMoveTheSupervisionColumns() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addAccount("005555", "OUTRA CONTA");
    s.addCode("1401", "DESARME", 0);
    s.addCode("3401", "ARME", 1);
    s.addCode("1602", "TESTE", 6);
    exec(s.db(), "update CLIENTES set REARME = 1");
    QSignalSpy desarmados(&s.core->recorder(), &EventRecorder::disarmedChanged);
    QSignalSpy rearme(&s.core->recorder(), &EventRecorder::awaitingArmChanged);
    QSignalSpy silencio(&s.core->recorder(), &EventRecorder::silentChanged);

    s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(10, 0, 0))); // an unmarked hour
    s.record(line("1234", "1602"));
    QCOMPARE(s.accountColumn("ULTIMO_EVENTO", "001234").toDateTime(), s.clock.now());
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 0);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "005555").toInt(), 1); // only the reporting account
    QCOMPARE(silencio.count(), 1);
    QCOMPARE(desarmados.count(), 0);

    s.record(line("1234", "1401"));
    QCOMPARE(s.accountColumn("DESARMADOS", "001234").toInt(), 1);
    QCOMPARE(s.accountColumn("REARME", "001234").toInt(), 1); // a disarm leaves the rearm flag
    QCOMPARE(s.accountColumn("DESARMADOS", "005555").toInt(), 0);
    QCOMPARE(desarmados.count(), 1);

    s.record(line("1234", "3401"));
    QCOMPARE(s.accountColumn("DESARMADOS", "001234").toInt(), 0);
    QCOMPARE(s.accountColumn("REARME", "001234").toInt(), 0);
    QCOMPARE(s.accountColumn("REARME", "005555").toInt(), 1);
    QCOMPARE(desarmados.count(), 2);
    QCOMPARE(rearme.count(), 1);
}

void TestEventRecorder::scheduleWarningOnMarkedHourOnly() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1401", "DESARME", 0);
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('001234', 'DOM', "
                 "'22:00:00', 1)");
    exec(s.db(), "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) values ('001234', 'DOM', "
                 "'21:00:00', 0)");
    EventQueue &eventQueue = s.core->eventQueue();

    // While the message is open the event is already stored and out of the queue, and the
    // next recording waits.
    int storedWhenShown = -1;
    qsizetype queuedWhenShown = -1;
    RecordResult heldBack;
    heldBack.status = RecordResult::Status::Stored;
    s.prompt.onMessage = [&](const QString &) {
        storedWhenShown = s.eventCount();
        queuedWhenShown = eventQueue.size();
        heldBack = s.core->pump().recordNext();
    };
    QVERIFY(eventQueue.append(line("1234", "1401")));
    QVERIFY(eventQueue.append(line("1234", "1401")));
    s.core->pump().recordNext();
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown.first().text, QString("Cliente JOSE Entrou fora do horário"));
    QCOMPARE(storedWhenShown, 1);
    QCOMPARE(queuedWhenShown, 1);
    QCOMPARE(heldBack.status, RecordResult::Status::Ignored);
    QCOMPARE(s.eventCount(), 1);

    // Sunday 21:xx is unmarked, Monday 22:xx has no row.
    s.prompt.onMessage = nullptr;
    s.clock.set(QDateTime(QDate(2026, 3, 8), QTime(21, 59, 59)));
    s.core->pump().recordNext();
    s.clock.set(QDateTime(QDate(2026, 3, 9), QTime(22, 0, 0)));
    QVERIFY(eventQueue.append(line("1234", "1401")));
    s.core->pump().recordNext();
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.eventCount(), 3);
    QVERIFY(eventQueue.isEmpty());
}

void TestEventRecorder::pendingHookOnlyForManualCodes() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2, 0);
    s.addCode("1602", "TESTE", 6, 1);
    QSignalSpy pendente(&s.core->recorder(), &EventRecorder::pendingRecorded);
    QSignalSpy recebidos(&s.core->recorder(), &EventRecorder::receivedChanged);
    s.record(line("1234", "1130"));
    QCOMPARE(pendente.count(), 1);
    QCOMPARE(s.last("TRATADO").toInt(), 0);
    s.record(line("1234", "1602"));
    QCOMPARE(pendente.count(), 1);
    QCOMPARE(s.last("TRATADO").toInt(), 1);
    QCOMPARE(recebidos.count(), 2);
}

void TestEventRecorder::soundDecisions() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2, 1, 1, "C:\\Tulmo\\Sons\\alarme.wav", 1);
    s.addCode("1131", "ALARME", 2, 1, 1, "", 1);
    s.addCode("1132", "ALARME", 2, 1, 1, "/sons/um.wav", 0);
    s.addCode("1133", "ALARME", 2, 1, 1, "", 0);
    // A continuous sound replaces whatever the player had (playing it stops the old one).
    s.record(line("1234", "1130"));
    QCOMPARE(s.sound.calls, QStringList({"loop:C:\\Tulmo\\Sons\\alarme.wav"}));
    // Events without a continuous sound of their own leave the alarm sounding: nothing is
    // stopped, a one-shot sound plays beside it.
    s.sound.calls.clear();
    s.record(line("1234", "1131"));
    QCOMPARE(s.sound.calls, QStringList());
    s.sound.calls.clear();
    s.record(line("1234", "1132"));
    QCOMPARE(s.sound.calls, QStringList({"once:/sons/um.wav"}));
    s.sound.calls.clear();
    s.record(line("1234", "1133"));
    QCOMPARE(s.sound.calls, QStringList({"once:"}));
}

void TestEventRecorder::smsGoesToEveryMarkedReceiver() {
    Pty receiverA, receiverB;
    QVERIFY(receiverA.ok() && receiverB.ok());
    Station s;
    mapPort(s.core->dataDir(), 3, receiverA.slavePath());
    mapPort(s.core->dataDir(), 4, receiverB.slavePath());
    ReceiverRow(1)
        .name("Receiver 1")
        .mode(0)
        .active(1)
        .comPort(2, 3)
        .sendsSms(0)
        .insertInto(s.db());
    ReceiverRow(2)
        .name("Receiver 2")
        .mode(0)
        .active(1)
        .comPort(3, 3)
        .sendsSms(1)
        .insertInto(s.db());
    QString err;
    QVERIFY2(s.core->dm().openSerialPort(1, 2, 3, &err), qPrintable(err)); // COM3
    QVERIFY2(s.core->dm().openSerialPort(2, 3, 3, &err), qPrintable(err)); // COM4
    QCOMPARE(s.core->dm().comPort(2)->baudRate(), 9600);
    // Every open asks the receiver to identify itself; that is not the SMS.
    QCOMPARE(receiverA.readAll(1000, 2), QByteArray("SP"));
    QCOMPARE(receiverB.readAll(1000, 2), QByteArray("SP"));

    s.addAccount("001234", "JOSE", "11987654321");
    s.addCode("1100", "EMERGENCIA 01", 4, 1, 1, "", 0, 1);
    s.addCode("1101", "SEM SMS", 4, 1, 1, "", 0, 0);
    s.addName("PARTICOES", "PARTICAO", "001234", 1, "LOJA");
    QCOMPARE(s.record(line("1234", "1100")).status, RecordResult::Status::Stored);
    const QByteArray got = receiverB.readAll(2000, 257);
    const QByteArray text = "SMS:11987654321,EMERGENCIA 01 LOJA";
    QCOMPARE(text.size(), 34);
    QCOMPARE(got.size(), 257);
    QCOMPARE(got.left(34), text);
    QCOMPARE(got.mid(34), QByteArray(223, '\0'));
    QCOMPARE(receiverA.readAll(300), QByteArray()); // not marked for SMS

    s.record(line("1234", "1101"));
    QCOMPARE(receiverB.readAll(300), QByteArray());

    // Accents go out in the receivers' Windows-1252.
    s.addCode("1102", "PÂNICO", 5, 1, 1, "", 0, 1);
    s.record(line("1234", "1102", "000", "9"));
    const QByteArray accented = receiverB.readAll(2000, 257);
    QCOMPARE(accented.size(), 257);
    QCOMPARE(accented.left(33), QByteArray("SMS:11987654321,P\xC2NICO PARTI\xC7\xC3O 9"));
    QCOMPARE(accented.at(33), '\0');
}

void TestEventRecorder::badLinesAreRejectedWithTheirReasonAndTheNextIsRecorded() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2);
    EventQueue &eventQueue = s.core->eventQueue();
    s.addAccount("005555", "MARIA");
    QVERIFY(eventQueue.append(line("5555", "1130", "003", "X")));             // partition
    QVERIFY(eventQueue.append(line("1234", "1130", "0A3", "0B")));            // Contact ID hex
    QVERIFY(eventQueue.append(line("5555", "1130", "003", "1", "31/02/09"))); // date
    QVERIFY(eventQueue.append(line("5555", "1130", "003", "99999")));         // too big
    QVERIFY(eventQueue.append("Rc01 Ln1 Pt1 lixo sem marcadores"));           // no markers
    QVERIFY(eventQueue.append(line("1234", "1130")));
    QSignalSpy pending(&s.core->recorder(), &EventRecorder::pendingRecorded);
    for (int i = 0; i < 6; ++i)
        s.core->pump().recordNext();
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(scalar(s.db(), "select count(*) from EVENTOS where TIPO <> 'INTERNO'").toInt(), 2);
    // Hex digits are Contact ID's own: the zone is stored as received, the partition by its
    // value.
    {
        QSqlQuery q(s.core->database().primary());
        QVERIFY(q.exec("SELECT ARGUMENTO, NUMERO_PARTICAO FROM EVENTOS WHERE ARGUMENTO = '0A3'"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString().trimmed(), QString("0A3"));
        QCOMPARE(q.value(1).toInt(), 11);
    }
    // Nobody reads the rejects file: each line is also an internal event waiting for an
    // operator, the fault and the line in its description (cut to the column), in order.
    QCOMPARE(pending.count(), 4);
    auto internal = [](const QString &conta, const QString &reason, const QString &l) {
        return QVariant(conta + "|EVENTO INTERNO|0|4|" + (reason + ": " + l).left(60));
    };
    QCOMPARE(column(s.db(), "select CONTA || '|' || CODIGO_ALARME || '|' || ARGUMENTO || '|' || "
                            "CLIENTE || '|' || TRATADO || '|' || PRIORIDADE || '|' || DESCRICAO "
                            "from EVENTOS where TIPO = 'INTERNO' order by SEQUENCIA"),
             QVariantList(
                 {internal("005555|1130|003", "partição inválida: \"X\"",
                           line("5555", "1130", "003", "X")),
                  internal("005555|1130|003", "data e hora inválidas: \"31/02/09 14:02:11\"",
                           line("5555", "1130", "003", "1", "31/02/09")),
                  internal("005555|1130|003", "partição inválida: \"99999\"",
                           line("5555", "1130", "003", "99999")),
                  internal("||", "linha de evento ilegível", "Rc01 Ln1 Pt1 lixo sem marcadores")}));
    // Rejected lines changed nothing on their account.
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "005555").toInt(), 1);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 0);
    QFile f(s.core->rejects().filePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList rejected = QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(rejected.size(), 4);
    QVERIFY(rejected[0].startsWith(line("5555", "1130", "003", "X") + " | "));
    QVERIFY(rejected[0].contains("partição inválida"));
    QVERIFY(rejected[1].contains("data e hora inválidas"));
    QVERIFY(rejected[2].contains("partição inválida"));
    QVERIFY(rejected[3].contains("ilegível"));
    // The queue file holds nothing more either, once the writer has replaced it (as it has
    // when the console stops): a restart records nothing twice.
    QVERIFY(eventQueue.flush());
    EventQueue again(eventQueue.filePath(), EventQueue::Numbering::Numbered);
    again.load();
    QVERIFY(again.isEmpty());
}

// The rejects file cannot be written (a folder took its name): the line stays at the head, and
// its internal event, taken back, is not stored once per attempt.
void TestEventRecorder::lineTheRejectsFileCannotTakeStaysQueuedWithoutItsInternalEvent() {
    Station s;
    EventQueue &eventQueue = s.core->eventQueue();
    const QString bad = line("5555", "1130", "003", "X");
    QVERIFY(eventQueue.append(bad));
    QVERIFY(QDir().mkdir(s.core->rejects().filePath()));
    QCOMPARE(s.core->pump().recordPass(), 0);
    QCOMPARE(s.core->pump().recordPass(), 0);
    QCOMPARE(eventQueue.lines(), QList<QString>({bad}));
    QCOMPARE(s.eventCount(), 0);
    QVERIFY(QDir().rmdir(s.core->rejects().filePath()));
    QCOMPARE(s.core->pump().recordPass(), 1);
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.last("TIPO").toString(), QString("INTERNO"));
}

void TestEventRecorder::shortLineDoesNothing() {
    Station s;
    s.addAccount("001234", "JOSE");
    QSignalSpy silencio(&s.core->recorder(), &EventRecorder::silentChanged);
    QCOMPARE(s.record("Rc01 Ln1 C").status, RecordResult::Status::Ignored); // 10 characters
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(silencio.count(), 0);
    QCOMPARE(s.sound.calls, QStringList());
}

void TestEventRecorder::unreachableDatabaseKeepsTheLineAtTheHead() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2);
    EventQueue &eventQueue = s.core->eventQueue();
    QVERIFY(eventQueue.append(line("1234", "1130")));
    const QString file = s.core->database().databaseFile();
    s.core->database().close();
    QVERIFY(QFile::rename(file, file + ".fora"));
    QCOMPARE(s.core->pump().recordNext().status, RecordResult::Status::Retry);
    QCOMPARE(eventQueue.size(), 1);
    QVERIFY(QFile::rename(file + ".fora", file));
    QCOMPARE(s.core->pump().recordNext().status, RecordResult::Status::Stored);
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(s.eventCount(), 1);
}

// A line the database turns away at the insert is rolled back whole: it plays no sound, sends
// no SMS, refreshes no list and leaves its account as it was. Once the cause is gone the
// same line is stored and plays and sends exactly once.
void TestEventRecorder::failedInsertPlaysSendsAndChangesNothingUntilStored() {
    Pty receiver;
    QVERIFY(receiver.ok());
    Station s;
    smsReceiver(s, receiver);
    if (QTest::currentTestFailed()) return;
    s.addAccount("001234", "JOSE", "11987654321");
    exec(s.db(), "update CLIENTES set DESARMADOS = 1, REARME = 1");
    s.addCode("3401", "ARME", 1, 0, 2, "/sons/arme.wav", 1, 1); // pending, loops, SMS
    exec(s.db(), "create exception RECUSA 'evento recusado'");
    exec(s.db(), "create trigger RECUSA_EVENTOS for EVENTOS before insert as "
                 "begin exception RECUSA; end");
    Announcements announced(s.core->recorder());
    const QString l = line("1234", "3401");

    // A user exception is no error of the line's values: the line is tried again.
    const RecordResult failed = s.record(l);
    QCOMPARE(failed.status, RecordResult::Status::Retry);
    QVERIFY2(failed.reason.contains("gravar o evento"), qPrintable(failed.reason));
    QCOMPARE(s.sound.calls, QStringList());
    QCOMPARE(receiver.readAll(300), QByteArray());
    QCOMPARE(announced.counts(), QList<int>({0, 0, 0, 0, 0}));
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(s.accountColumn("ULTIMO_EVENTO", "001234").toDateTime(),
             QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 1);
    QCOMPARE(s.accountColumn("DESARMADOS", "001234").toInt(), 1);
    QCOMPARE(s.accountColumn("REARME", "001234").toInt(), 1);

    exec(s.db(), "drop trigger RECUSA_EVENTOS");
    QCOMPARE(s.record(l).status, RecordResult::Status::Stored);
    QCOMPARE(s.sound.calls, QStringList({"loop:/sons/arme.wav"}));
    const QByteArray sms = receiver.readAll(2000, 257);
    QCOMPARE(sms.size(), 257);
    QCOMPARE(sms.left(33), QByteArray("SMS:11987654321,ARME 3 PARTI\xC7\xC3O 1"));
    QCOMPARE(sms.mid(33), QByteArray(224, '\0'));
    QCOMPARE(receiver.readAll(300), QByteArray());
    QCOMPARE(announced.counts(), QList<int>({1, 1, 1, 1, 1}));
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.accountColumn("ULTIMO_EVENTO", "001234").toDateTime(), s.clock.now());
    QCOMPARE(s.accountColumn("DESARMADOS", "001234").toInt(), 0);
    QCOMPARE(s.accountColumn("REARME", "001234").toInt(), 0);
}

// Another workstation holds the account's row: the recording meets a real update conflict.
// The line is a sound one and stays at the head, the fault is announced once, and the line is
// stored on the next tick once the other transaction is over.
void TestEventRecorder::updateConflictKeepsTheLineUntilTheConflictEnds() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2, 1, 2, "/sons/alarme.wav", 0);
    EventQueue &eventQueue = s.core->eventQueue();
    const QString l = line("1234", "1130");
    QVERIFY(eventQueue.append(l));
    QSignalSpy status(&s.core->pump(), &EventPump::databaseStatusChanged);

    RowHolder holder(s.core->database().databaseFile(), "001234");
    holder.start();
    QVERIFY(holder.held.tryAcquire(1, 10000));
    const RecordResult conflict = s.core->pump().recordNext(); // waits until the holder commits
    QVERIFY(holder.wait(10000));
    QVERIFY2(holder.sawWaiting, "the recording never waited on the held row");
    QCOMPARE(conflict.status, RecordResult::Status::Retry);
    QVERIFY2(conflict.reason.contains("atualizar a conta"), qPrintable(conflict.reason));
    QCOMPARE(eventQueue.lines(), QList<QString>({l}));
    QVERIFY(!QFile::exists(s.core->rejects().filePath()));
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(s.sound.calls, QStringList());
    QCOMPARE(status.count(), 1);
    QVERIFY(status.first().first().toString().startsWith(
        "Gravação de eventos aguardando o banco de dados: erro do banco de dados ao atualizar"));

    QCOMPARE(s.core->pump().recordNext().status, RecordResult::Status::Stored);
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.sound.calls, QStringList({"once:/sons/alarme.wav"}));
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.last().first().toString(), QString());
}

// The recording runs and commits on the recorder's own thread and connection: the tick returns
// while its statement still waits on a row another transaction holds, the event loop turns
// meanwhile, and what came of it is applied there: on the conflict the line stays at the head,
// nothing plays; the next tick stores it and plays its sound once.
void TestEventRecorder::aRecordingWaitingOnTheDatabaseDoesNotHoldTheEventLoop() {
    Station s;
    s.addAccount("001234", "JOSE");
    s.addCode("1130", "ALARME", 2, 1, 2, "/sons/alarme.wav", 0);
    EventQueue &eventQueue = s.core->eventQueue();
    const QString l = line("1234", "1130");
    QVERIFY(eventQueue.append(l));
    RowHolder holder(s.core->database().databaseFile(), "001234");
    holder.start();
    QVERIFY(holder.held.tryAcquire(1, 10000));
    int turns = 0;
    QTimer beat;
    beat.setInterval(5);
    connect(&beat, &QTimer::timeout, [&] { ++turns; });
    beat.start();
    s.core->Timer_AtualizarTimer();
    // Had the tick waited for the commit, the holder would have seen it and be done by now.
    QVERIFY(s.core->pump().busy());
    QVERIFY(!holder.isFinished());
    QVERIFY(waitFor([&] { return holder.isFinished(); }, 15000));
    QVERIFY2(holder.sawWaiting, "the recording never waited on the held row");
    QVERIFY2(turns >= 3, qPrintable(QString::number(turns)));
    QVERIFY(waitFor([&] { return !s.core->pump().busy(); }, 10000));
    QCOMPARE(eventQueue.lines(), QList<QString>({l}));
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(s.sound.calls, QStringList());
    tickAndSettle(*s.core);
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.sound.calls, QStringList({"once:/sons/alarme.wav"}));
}

// A commit the database refuses is no stored event: nothing plays or is announced, the line
// stays at the head (not among the rejects), and each tick tries it again without waiting on
// the transaction the driver lost. Once the cause is gone the same line is stored.
void TestEventRecorder::failedCommitKeepsTheLineAndTheSameLineIsStoredLater() {
    Station s;
    s.addAccount("009999", "ANA");
    s.addCode("1130", "ALARME", 2, 0, 2, "/sons/alarme.wav", 0);
    exec(s.db(), "create exception RECUSA 'confirmação recusada'");
    // Any transaction that would commit an event of account 009999 is refused at its commit.
    exec(s.db(), "create trigger RECUSA_COMMIT on transaction commit as begin "
                 "if (exists(select 1 from EVENTOS where CONTA = '009999')) then "
                 "exception RECUSA; end");
    // A connection reads the database's triggers when it opens: the recorder's own is opened
    // anew, as at the next start.
    s.core->recorder().stopWorker();
    s.core->recorder().startWorker();
    Announcements announced(s.core->recorder());
    QSignalSpy status(&s.core->pump(), &EventPump::databaseStatusChanged);
    EventQueue &eventQueue = s.core->eventQueue();
    const QString l = line("9999", "1130");
    QVERIFY(eventQueue.append(l));

    for (int tick = 0; tick < 2; ++tick) {
        QElapsedTimer took;
        took.start();
        const RecordResult failed = s.core->pump().recordNext();
        // The second tick updates the same CLIENTES row the lost transaction had locked.
        QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(failed.status, RecordResult::Status::Retry);
        QVERIFY2(failed.reason.contains("confirmar a gravação"), qPrintable(failed.reason));
        QCOMPARE(eventQueue.lines(), QList<QString>({l}));
    }
    QVERIFY(!QFile::exists(s.core->rejects().filePath()));
    QCOMPARE(s.sound.calls, QStringList());
    QCOMPARE(announced.counts(), QList<int>({0, 0, 0, 0, 0}));
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "009999").toInt(), 1);

    exec(s.db(), "drop trigger RECUSA_COMMIT");
    s.core->recorder().stopWorker();
    s.core->recorder().startWorker();
    QCOMPARE(s.core->pump().recordNext().status, RecordResult::Status::Stored);
    QVERIFY(eventQueue.isEmpty());
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.last("CONTA").toString(), QString("009999"));
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "009999").toInt(), 0);
    QCOMPARE(s.sound.calls, QStringList({"once:/sons/alarme.wav"}));
    QCOMPARE(announced.counts(), QList<int>({1, 0, 0, 1, 1}));
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.last().first().toString(), QString());
}

QTEST_GUILESS_MAIN(TestEventRecorder)
#include "test_eventrecorder.moc"
