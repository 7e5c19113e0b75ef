#include "support/TestSupport.h"

#include "core/events/EventLine.h"
#include "core/import/EventImport.h"
#include "core/import/ImportRecorder.h"
#include "core/import/ReceiverRecord.h"
#include "core/reception/Data_Modulo2.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// One 32-byte record of a receiver's event file, field by field as hexadecimal digits: the
// receiver writes the digit 0 as "A".
struct Rec {
    QString line = "1", type = "4", account = "1A2A", qualifier = "1", code = "4A1", part = "A1",
            zone = "AA3", carried = "AA", flag = "A", caller = "AAAAAAAAAA", last = "A";
    int day = 8766, hour = 13, minute = 45, second = 30;

    QByteArray bytes() const {
        const QString digits = line + type + account + "00" + qualifier + code + part + zone +
                               carried + flag + caller + last + QString(23, '0') +
                               QString("%1").arg(day, 4, 16, QChar('0')) +
                               QString("%1").arg(hour, 2, 16, QChar('0')) +
                               QString("%1").arg(minute, 2, 16, QChar('0')) +
                               QString("%1").arg(second, 2, 16, QChar('0'));
        Q_ASSERT(digits.size() == 64);
        return QByteArray::fromHex(digits.toLatin1());
    }
};

QString writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    return path;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Runs one listing to its end and keeps what it listed and what it said.
struct Listing {
    QList<ImportRow> rows;
    ImportSummary summary;
    int blocks = 0;
    Listing(EventImport &import, const QString &file, EventImport::TimeSource source) {
        QObject ctx;
        QObject::connect(&import, &EventImport::rowsListed, &ctx,
                         [this](const QList<ImportRow> &r) {
                             rows += r;
                             ++blocks;
                         });
        QObject::connect(&import, &EventImport::finished, &ctx,
                         [this](const ImportSummary &s) { summary = s; });
        import.ProcessaArquivo(file, source);
        import.finishNow();
    }
};

ImportRecordSummary recordAll(ImportRecorder &recorder, const QList<ImportRow> &rows) {
    ImportRecordSummary out;
    QObject ctx;
    QObject::connect(&recorder, &ImportRecorder::finished, &ctx,
                     [&out](const ImportRecordSummary &s) { out = s; });
    QStringList lines;
    for (const ImportRow &r : rows)
        lines << r.string2;
    recorder.start(lines);
    recorder.finishNow();
    return out;
}

} // namespace

class TestEventImport : public QObject {
    Q_OBJECT
private slots:
    void recordLayout();
    void listingChangesNothingAndRecordingStoresOnce();
    void badFilesAreNamedAndLoseNothing();
    void recordingGivesWayToLiveEvents();
};

void TestEventImport::recordLayout() {
    QString problem;
    Rec a;
    const QString digits = ReceiverRecord::digits(a.bytes());
    QVERIFY(ReceiverRecord::isEvent(digits));
    auto e = ReceiverRecord::decode(digits, &problem);
    QVERIFY2(e, qPrintable(problem));
    // "501", line, " 18", the account 1A2A as 1020, the qualifier, 22 mapped digits.
    QCOMPARE(e->frame, QString("5011 181020E4010100300000000000000"));
    QCOMPARE(e->frame.size(), 34);
    QCOMPARE(e->ideCall, QString("Não Identificado"));
    QCOMPARE(e->when, QDateTime(QDate(2024, 1, 1), QTime(13, 45, 30)));

    Rec r = a;
    r.type = "2";
    QVERIFY(!ReceiverRecord::isEvent(ReceiverRecord::digits(r.bytes())));
    r = a;
    r.qualifier = "3";
    r.flag = "1";
    r.caller = "11987654A2";
    r.line = "7";
    e = ReceiverRecord::decode(ReceiverRecord::digits(r.bytes()), &problem);
    QVERIFY(e);
    QCOMPARE(e->frame, QString("5017 181020R401010030011198765402") + "0");
    QCOMPARE(e->ideCall, QString("(11)98765402"));

    QCOMPARE(ReceiverRecord::dateOfDay(0), QDate(2000, 1, 1));
    QCOMPARE(ReceiverRecord::dateOfDay(59), QDate(2000, 2, 29));
    QCOMPARE(ReceiverRecord::dateOfDay(60), QDate(2000, 3, 1));
    QCOMPARE(ReceiverRecord::dateOfDay(365), QDate(2000, 12, 31));
    QCOMPARE(ReceiverRecord::dateOfDay(366), QDate(2001, 1, 1));
    QCOMPARE(ReceiverRecord::dateOfDay(8766), QDate(2024, 1, 1));

    // Fields stored as numbers must be digits; the moment must be one.
    r = a;
    r.part = "B1";
    QVERIFY(!ReceiverRecord::decode(ReceiverRecord::digits(r.bytes()), &problem));
    QCOMPARE(problem, QString("partição inválida: \"B1\""));
    r = a;
    r.hour = 24;
    QVERIFY(!ReceiverRecord::decode(ReceiverRecord::digits(r.bytes()), &problem));
    QCOMPARE(problem, QString("hora inválida: 24:45:30"));
    r = a;
    r.day = 0xFFFF;
    QVERIFY(!ReceiverRecord::decode(ReceiverRecord::digits(r.bytes()), &problem));
    QVERIFY(problem.startsWith("data fora do intervalo"));
}

// The listing reads the registry and nothing else; recording stores each checked event once
// with the record's own time, and the same file read again lists nothing.
void TestEventImport::listingChangesNothingAndRecordingStoresOnce() {
    Station s;
    s.addAccount("001020", "JOAO SILVA");
    s.addAccount("000042", "PADARIA");
    s.addCode("1401", "ABERTURA", 0);
    s.addCode("3130", "RESTAURACAO DISPARO", 3);
    s.addCode("1602", "TESTE PERIODICO", 6);
    s.addName("USUARIOS", "USUARIO", "001020", 3, "MARIA");
    s.addName("PARTICOES", "PARTICAO", "001020", 1, "LOJA");
    QVERIFY(s.core->queueLine(eventLine("1130", "22:14:00"))); // a live line waiting
    const QString queueFile = s.core->eventQueue().filePath();
    const QByteArray queueBefore = fileBytes(queueFile);

    Rec disarm;
    Rec restore;
    restore.account = "1234";
    restore.qualifier = "3";
    restore.code = "13A";
    restore.zone = "AA5";
    restore.flag = "1";
    restore.caller = "1198765432";
    restore.day = 59;
    restore.hour = 23;
    restore.minute = 59;
    restore.second = 59;
    Rec other = disarm;
    other.type = "2";
    Rec periodic;
    periodic.account = "AA42";
    periodic.code = "6A2";
    periodic.day = 366;
    periodic.hour = periodic.minute = periodic.second = 0;
    const QString file =
        writeFile(s.dir.filePath("memoria.ORB"),
                  disarm.bytes() + restore.bytes() + other.bytes() + periodic.bytes());

    EventImport import(s.core->database(), s.clock);
    Listing current(import, file, EventImport::TimeSource::Current);
    QCOMPARE(current.rows.size(), 3);
    for (const ImportRow &r : current.rows)
        QCOMPARE(r.data, QString("08/03/2026 22:15:00")); // "Atual": the console's clock

    Listing l(import, file, EventImport::TimeSource::FromFile);
    QCOMPARE(l.summary.message(), QString());
    QCOMPARE(l.summary.records, 4);
    QCOMPARE(l.summary.events, 3);
    QCOMPARE(l.rows.size(), 3);
    const ImportRow &a = l.rows[0];
    const QStringList got{a.conta,  a.cliente,   a.descricao, a.data,
                          a.codigo, a.argumento, a.particao,  a.nomeParticao,
                          a.tipo,   a.string1,   a.string2,   a.ideCall};
    const QStringList want{"001020",
                           "JOAO SILVA",
                           "ABERTURA MARIA",
                           "01/01/2024 13:45:30",
                           "1401",
                           "003",
                           "01",
                           "LOJA",
                           "DESARMADO",
                           QString("5011 181020E4010100300000000000000") + QChar(0x14),
                           "Rc01 Ln1 Ct1020 Pt01 Ce1401 Su003 Dt01/01/24 Tm13:45:30 IdNão "
                           "Identificado",
                           "Não Identificado"};
    QCOMPARE(got, want);
    // An account without a client: the argument as received; the caller's number.
    QCOMPARE(l.rows[1].conta, QString("001234"));
    QCOMPARE(l.rows[1].cliente, QString());
    QCOMPARE(l.rows[1].descricao, QString("RESTAURACAO DISPARO 005"));
    QCOMPARE(l.rows[1].tipo, QString("RESTAURAÇÃO"));
    QCOMPARE(l.rows[1].data, QString("29/02/2000 23:59:59"));
    QCOMPARE(l.rows[1].ideCall, QString("(11)98765432"));
    QCOMPARE(l.rows[1].nomeParticao, QString("PARTIÇÃO 01"));
    QCOMPARE(l.rows[2].conta, QString("000042"));
    QCOMPARE(l.rows[2].descricao, QString("TESTE PERIODICO"));
    QCOMPARE(l.rows[2].tipo, QString("PERIÓDICO"));
    QCOMPARE(l.rows[2].data, QString("01/01/2001 00:00:00"));
    // Listing wrote nothing: no event, no account flag, not a byte of the live queue.
    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(s.accountColumn("DESARMADOS", "001020").toInt(), 0);
    QCOMPARE(fileBytes(queueFile), queueBefore);
    QCOMPARE(s.clock.now(), QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0)));

    ImportRecorder recorder(s.core->recorder(), &s.prompt);
    const ImportRecordSummary stored = recordAll(recorder, l.rows);
    QCOMPARE(stored.stored, 3);
    QCOMPARE(stored.message(), QString());
    QCOMPARE(s.eventCount(), 3);
    QCOMPARE(scalar(s.db(), "select DATA from EVENTOS where CONTA = '001020'").toDateTime(),
             QDateTime(QDate(2024, 1, 1), QTime(13, 45, 30)));
    QCOMPARE(scalar(s.db(), "select DESCRICAO from EVENTOS where CONTA = '001020'").toString(),
             QString("ABERTURA MARIA"));
    QCOMPARE(scalar(s.db(), "select IDECALL from EVENTOS where CONTA = '001234'").toString(),
             QString("1198765432"));
    // Recorded as a live event is: the disarm flag, the sign of life.
    QCOMPARE(s.accountColumn("DESARMADOS", "001020").toInt(), 1);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "000042").toInt(), 0);
    QCOMPARE(fileBytes(queueFile), queueBefore);
    QCOMPARE(s.core->eventQueue().size(), 1);

    Listing again(import, file, EventImport::TimeSource::FromFile);
    QCOMPARE(again.rows.size(), 0);
    QCOMPARE(again.summary.duplicates, 3);
}

// A file that is empty, cut short, or not a receiver's: the operator is told which record,
// what can be read is listed, and nothing stored or queued changes.
void TestEventImport::badFilesAreNamedAndLoseNothing() {
    Station s;
    QVERIFY(s.core->queueLine(eventLine("1130", "22:14:00")));
    const QByteArray queueBefore = fileBytes(s.core->eventQueue().filePath());
    EventImport import(s.core->database(), s.clock);
    const auto from = EventImport::TimeSource::FromFile;

    Listing empty(import, writeFile(s.dir.filePath("vazio.ORB"), {}), from);
    QVERIFY(empty.summary.message().contains("está vazio"));

    Listing missing(import, s.dir.filePath("nao-existe.ORB"), from);
    QVERIFY(missing.summary.message().startsWith("Não foi possível abrir o arquivo"));
    {
        // Whatever the operator names: a FIFO is refused, never waited on.
        Fifo fifo(s.dir.filePath("fifo.ORB"));
        QVERIFY(fifo.ok());
        Listing named(import, s.dir.filePath("fifo.ORB"), from);
        QVERIFY2(named.summary.message().contains(
                     QString("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.")
                         .arg(s.dir.filePath("fifo.ORB"))),
                 qPrintable(named.summary.message()));
        QVERIFY(!fifo.releasedAReader());
    }

    // 4097 bytes: 128 records, then one byte: two blocks, the last record cut short.
    QByteArray bytes;
    for (int i = 0; i < 128; ++i) {
        Rec r;
        r.second = i % 60;
        r.minute = i / 60;
        bytes += r.bytes();
    }
    QSignalSpy progress(&import, &EventImport::progress);
    Listing blocks(import, writeFile(s.dir.filePath("corte.TVL"), bytes + Rec().bytes().left(1)),
                   from);
    QCOMPARE(blocks.blocks, 2);
    QCOMPARE(blocks.rows.size(), 128);
    QCOMPARE(blocks.summary.records, 129);
    QCOMPARE(progress.last().at(1).toInt(), 129);
    QCOMPARE(blocks.summary.problems,
             QStringList{"registro 129 (posição 4096): o arquivo termina no meio do registro (1 "
                         "de 32 bytes)"});
    QVERIFY(blocks.summary.message().contains("1 registro(s) do arquivo"));

    // A record whose digits do not decode is named; those around it are listed.
    Rec bad;
    bad.zone = "1C3";
    Rec next;
    next.second = 31;
    Listing mixed(
        import, writeFile(s.dir.filePath("misto.ORB"), Rec().bytes() + bad.bytes() + next.bytes()),
        from);
    QCOMPARE(mixed.rows.size(), 2);
    QVERIFY2(mixed.summary.message().contains(
                 "registro 2 (posição 32): zona ou usuário inválido: \"1C3\""),
             qPrintable(mixed.summary.message()));

    // Random bytes: whatever is read as an event is either listed or named, never stored.
    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator gen(20261209);
    gen.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    Listing random(import, writeFile(s.dir.filePath("ruido.ORB"), noise), from);
    QCOMPARE(random.summary.records, 2048);
    QVERIFY(random.summary.events > 0);
    QCOMPARE(random.rows.size() + random.summary.problemCount + random.summary.duplicates,
             random.summary.events);
    QVERIFY(random.summary.problemCount > random.summary.events / 2);
    QVERIFY(!random.summary.message().isEmpty());

    QCOMPARE(s.eventCount(), 0);
    QCOMPARE(fileBytes(s.core->eventQueue().filePath()), queueBefore);
}

// Live events reported by a serial receiver while an import is recorded: each is queued and
// acknowledged at once, recorded before the import's next batch rather than after the import,
// and the import is stored whole.
void TestEventImport::recordingGivesWayToLiveEvents() {
    Station s;
    s.addAccount("000042", "PADARIA");
    Pty pty;
    QVERIFY(pty.ok());
    mapPort(s.core->dataDir(), 1, pty.slavePath());
    ReceiverRow(1)
        .name("R1")
        .mode(0)
        .active(1)
        .comPort(0, 3)
        .tcpPort(3030)
        .udpPort(0)
        .replyDelay(0)
        .keepAlive(5)
        .insertInto(s.db());
    s.core->dm().Realizar_Atualizacoes();
    QCOMPARE(pty.readAll(2000, 4), QByteArray("SPSP"));
    QVERIFY(pty.write("RZ5"));
    QVERIFY(waitFor([&] { return !s.core->dm().slot(1).timerSM->isActive(); }));

    constexpr int kImported = 1000;
    QByteArray bytes;
    for (int i = 0; i < kImported; ++i) {
        Rec r;
        r.day = 9000 + i / 3600;
        r.hour = (i / 60) % 60 % 24;
        r.minute = i % 60;
        r.second = (i * 7) % 60;
        r.zone = QString("%1").arg(i % 999 + 1, 3, 10, QChar('0'));
        bytes += r.bytes();
    }
    EventImport import(s.core->database(), s.clock);
    Listing l(import, writeFile(s.dir.filePath("grande.ORB"), bytes),
              EventImport::TimeSource::FromFile);
    QCOMPARE(l.rows.size(), kImported);

    ImportRecorder recorder(s.core->recorder(), &s.prompt);
    recorder.setLiveQueue(&s.core->eventQueue(), &s.core->pump());
    QSignalSpy done(&recorder, &ImportRecorder::finished);
    QElapsedTimer sinceStart;
    sinceStart.start();
    qint64 finishedAt = -1;
    connect(&recorder, &ImportRecorder::finished, [&] { finishedAt = sinceStart.elapsed(); });
    QStringList lines;
    for (const ImportRow &r : l.rows)
        lines << r.string2;

    // A frame from the receiver, each 300 ms of quiet apart as a receiver sends them: queued
    // and acknowledged once the quiet has passed, whatever the import is doing.
    QElapsedTimer t;
    int sent = 0;
    auto liveFrame = [&] {
        ++sent;
        QVERIFY(pty.write("5011 180042E13001" + QByteArray::number(sent).rightJustified(3, '0') +
                          "\x14"));
        t.start();
        QCOMPARE(pty.readAll(3000, 1), QByteArray("\x06"));
        QVERIFY2(t.elapsed() < 300 + 700, qPrintable(QString::number(t.elapsed())));
    };
    // Where a live event stands among the stored ones.
    auto sequence = [&](int zona) {
        return scalar(s.db(),
                      "select SEQUENCIA from EVENTOS where CONTA = '000042' and "
                      "ARGUMENTO = :a",
                      {{":a", QString("%1").arg(zona, 3, 10, QChar('0'))}});
    };
    liveFrame(); // waiting in the live queue as the import begins
    QCOMPARE(s.core->eventQueue().size(), 1);
    s.core->startTimer();
    recorder.start(lines);
    // When each live frame was acknowledged: one acknowledged well before the import ends
    // (a tick and a batch are less than that) is recorded before the import's last line.
    QList<qint64> ackedAt{sinceStart.elapsed()};
    while (sent < 4 && recorder.running()) {
        liveFrame();
        ackedAt << sinceStart.elapsed();
    }
    QVERIFY(waitFor([&] { return done.count() == 1; }, 60000));
    QVERIFY(waitFor([&] { return s.core->eventQueue().isEmpty(); }, 3000));
    s.core->stopTimer();
    const auto summary = done.first().first().value<ImportRecordSummary>();
    QCOMPARE(summary.stored, kImported);
    QCOMPARE(s.eventCount(), kImported + sent);
    // Live events go first: none waits for the import to end.
    const int lastImported = scalar(s.db(), "select max(SEQUENCIA) from EVENTOS where CONTA = "
                                            "'001020'")
                                 .toInt();
    const int firstImported = scalar(s.db(), "select min(SEQUENCIA) from EVENTOS where CONTA = "
                                             "'001020'")
                                  .toInt();
    QVERIFY(sequence(1).toInt() < firstImported);
    QVERIFY(finishedAt >= 0);
    for (int live = 2; live <= sent; ++live)
        if (finishedAt - ackedAt[live - 1] > 1500)
            QVERIFY2(sequence(live).toInt() < lastImported, qPrintable(QString::number(live)));
}

QTEST_GUILESS_MAIN(TestEventImport)
#include "test_eventimport.moc"
