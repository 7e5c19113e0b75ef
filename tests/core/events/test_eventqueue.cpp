#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/common/RegularFile.h"
#include "core/events/EventLine.h"
#include "core/events/EventQueue.h"
#include "core/store/Database.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tulmo;
using tulmo::test::Fifo;

namespace {

QByteArray readBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

// A realistic event line whose account carries a sequence number.
QString lineFor(quint32 n) {
    return eventline::build(QStringLiteral("01"), QStringLiteral("1"),
                            QStringLiteral("%1").arg(n, 6, 10, QLatin1Char('0')),
                            QStringLiteral("1"), QStringLiteral("1130"), QStringLiteral("001"),
                            QStringLiteral("05/03/09"), QStringLiteral("14:02:11"),
                            QStringLiteral("Não Identificado"));
}

QByteArray fileOf(const QStringList &lines) {
    QByteArray b;
    for (const QString &l : lines)
        b += l.toUtf8() + "\r\n";
    return b;
}

const QString kA = QStringLiteral("Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11");
const QString kB = QStringLiteral("Rc01 Ln1 Ct0000 Pt0 Ce1401 Su1 Dt05/03/09 Tm14:02:12");
const QString kC =
    QStringLiteral("Rc02 Ln3 Ct5678 Pt01 Ce3130 Su004 Dt05/03/09 Tm14:02:13 IdNão Identificado");
const QString kD =
    QStringLiteral("Rc02 Ln3 Ct5678 Pt01 Ce1130 Su004 Dt05/03/09 Tm14:02:14 Id1133224455");

// What the writer process reports after each operation that returned: the number of the
// last line appended and how many lines it has removed from the head.
struct Ack {
    quint32 appended;
    quint32 removed;
};

// The writer process: appends as fast as it can (and, with removals, takes the head after
// every second append), reporting each finished operation. Never returns.
[[noreturn]] void writerProcess(const QString &path, quint32 lastAppended, bool withRemovals,
                                int ackFd) {
    EventQueue q(path);
    if (q.load() != EventQueue::LoadStatus::Loaded) _exit(2);
    Ack ack{lastAppended, 0};
    for (quint64 step = 0;; ++step) {
        if (withRemovals && step % 3 == 2) {
            if (!q.removeHead()) _exit(3);
            ++ack.removed;
        } else {
            if (!q.append(lineFor(ack.appended + 1))) _exit(4);
            ++ack.appended;
        }
        if (::write(ackFd, &ack, sizeof ack) != sizeof ack) _exit(5);
    }
}

} // namespace

class TestEventQueue : public QObject {
    Q_OBJECT
private slots:
    void appendAndRemoveHeadInOrder();
    void restartKeepsQueueInOrder();
    void missingFileIsCreatedEmpty();
    void missingFolderIsCreatedToo();
    void whatIsNoQueueFileIsSetAsideAndTheQueueStartsAnew();
    void writeFaultIsToldUntilAWriteSucceeds();
    void fileHoldsExactlyTheLinesWithCrLf();
    void windows1252FileLoads();
    void lastLineWithoutLineEndStaysItsOwnLine();
    void tornLastLineGoesToTheRejects();
    void consoleStartsWithoutTheTornLine();
    void lineBreaksInsideALineCannotSplitIt();
    void headerNumberWithoutRoomToCountStartsAfresh();
    void staleTemporaryFileIsIgnored();
    void removeLastTakesBackTheNewestLine();
    void removalsFromAnEmptyQueue();
    void rejectLogKeepsLineAndReason();
    void acknowledgedLinesSurviveAKill();
    void linesStagedDuringAFlushShareTheNextOneAndAreAnsweredInOrder();
    void removalWhileAppendsAreInFlightKeepsTheFileAndItsNumbers();
    void failedBackgroundWriteDropsTheLinesInFlightAndSaysWhy();
};

void TestEventQueue::appendAndRemoveHeadInOrder() {
    QTemporaryDir dir;
    EventQueue q(dir.filePath("Eventos_Log.dat"));
    QCOMPARE(q.load(), EventQueue::LoadStatus::CreatedEmpty);
    QString error;
    for (const QString &l : {kA, kB, kC})
        QVERIFY2(q.append(l, &error), qPrintable(error));
    QCOMPARE(q.lines(), QList<QString>({kA, kB, kC}));
    QCOMPARE(q.head(), kA);
    QVERIFY2(q.removeHead(&error), qPrintable(error));
    QCOMPARE(q.head(), kB);
    QVERIFY(q.append(kD));
    QVERIFY(q.removeHead());
    QCOMPARE(q.lines(), QList<QString>({kC, kD}));
    QCOMPARE(readBytes(q.filePath()), fileOf({kC, kD}));
    QVERIFY(q.removeHead());
    QVERIFY(q.removeHead());
    QVERIFY(q.isEmpty());
    QCOMPARE(q.head(), QString());
    QCOMPARE(readBytes(q.filePath()), QByteArray());
}

void TestEventQueue::restartKeepsQueueInOrder() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    {
        EventQueue q(path);
        q.load();
        for (const QString &l : {kA, kB, kC})
            QVERIFY(q.append(l));
        QVERIFY(q.removeHead());
    }
    {
        EventQueue q(path);
        QString error;
        QCOMPARE(q.load(&error), EventQueue::LoadStatus::Loaded);
        QVERIFY(error.isEmpty());
        QCOMPARE(q.lines(), QList<QString>({kB, kC}));
        QVERIFY(q.append(kD));
    }
    EventQueue q(path);
    QCOMPARE(q.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kB, kC, kD}));
    QCOMPARE(q.head(), kB);
}

void TestEventQueue::missingFileIsCreatedEmpty() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    QVERIFY(!QFile::exists(path));
    EventQueue q(path);
    QString error;
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::CreatedEmpty);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(q.isEmpty());
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    QVERIFY(q.append(kA));
    QCOMPARE(readBytes(path), fileOf({kA}));
}

void TestEventQueue::missingFolderIsCreatedToo() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Dados/Eventos_Log.dat");
    EventQueue q(path);
    QString error;
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::CreatedEmpty);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QFile::exists(path));
}

// A folder, a FIFO or a file too large where the queue should be: never read (a FIFO would
// hold the start for good), kept under a name of its own for whoever must look at it, and
// the queue starts anew so that reception goes on.
void TestEventQueue::whatIsNoQueueFileIsSetAsideAndTheQueueStartsAnew() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    QVERIFY(QDir(dir.path()).mkdir("Eventos_Log.dat"));
    EventQueue q(path);
    QString error;
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::Unreadable);
    QCOMPARE(error,
             QString("\"%1\" não é um arquivo comum (é uma pasta) e não foi lido.\n\nEle "
                     "foi renomeado para \"Eventos_Log.dat.recusado\", e a fila começa vazia.")
                 .arg(path));
    QVERIFY(QFileInfo(path + ".recusado").isDir());
    QVERIFY(q.isEmpty());
    QVERIFY(q.append(kA));
    QCOMPARE(readBytes(path), fileOf({kA}));

    QVERIFY(QFile::remove(path));
    {
        Fifo fifo(path);
        QVERIFY(fifo.ok());
        QCOMPARE(q.load(&error), EventQueue::LoadStatus::Unreadable);
        QVERIFY2(error.contains("(é um FIFO)") && error.contains("\"Eventos_Log.dat.recusado.2\""),
                 qPrintable(error));
        QVERIFY(!fifo.releasedAReader());
    }
    QVERIFY(q.isEmpty());
    QVERIFY(q.append(kB));
    QCOMPARE(readBytes(path), fileOf({kB}));

    // Larger than any backlog (a sparse file: no disk is spent): what it holds is not lost.
    {
        QFile big(path);
        QVERIFY(big.open(QIODevice::ReadWrite));
        QVERIFY(big.resize(FileLimits::kQueueFile + 1));
    }
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::Unreadable);
    QVERIFY2(error.contains("e um arquivo desse tipo tem no máximo 256 MB.") &&
                 error.contains("\"Eventos_Log.dat.recusado.3\""),
             qPrintable(error));
    QCOMPARE(QFileInfo(path + ".recusado.3").size(), FileLimits::kQueueFile + 1);
    QCOMPARE(readBytes(path + ".recusado.3").left(kB.size()), kB.toUtf8());
    QVERIFY(q.isEmpty());
    QCOMPARE(QFileInfo(path).size(), 0);
}

// The file cannot be written (a folder took its name: the administrator writes whatever the
// permissions say). The fault is told from the failed write until one succeeds; a file that
// cannot be replaced keeps it told while appends go on, without flickering.
void TestEventQueue::writeFaultIsToldUntilAWriteSucceeds() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path, EventQueue::Numbering::Numbered);
    q.load();
    QVERIFY(q.writeFault().isEmpty());
    QVERIFY(QFile::rename(path, path + ".guardado"));
    QVERIFY(QDir().mkdir(path));
    QString error;
    QVERIFY(!q.append(kA, &error));
    QCOMPARE(error, QString("Não foi possível gravar \"%1\": o nome é de uma pasta").arg(path));
    QCOMPARE(q.writeFault(), QString("o nome é de uma pasta"));
    QVERIFY(!q.stage(kA));
    QVERIFY(q.isEmpty());
    QVERIFY(QDir().rmdir(path));
    QVERIFY(QFile::rename(path + ".guardado", path));
    QVERIFY(q.append(kA));
    QVERIFY(q.writeFault().isEmpty());

    QVERIFY(QDir().mkdir(path + ".tmp"));
    QVERIFY(!q.removeHead(&error));
    QCOMPARE(q.writeFault(), QString("o nome é de uma pasta"));
    QVERIFY(q.append(kB)); // the file itself takes lines: they are durable
    QCOMPARE(q.writeFault(), QString("o nome é de uma pasta"));
    QVERIFY(QDir().rmdir(path + ".tmp"));
    QVERIFY(q.removeHead());
    QVERIFY(q.writeFault().isEmpty());
    EventQueue again(path, EventQueue::Numbering::Numbered);
    again.load();
    QCOMPARE(again.lines(), QList<QString>({kB}));
}

void TestEventQueue::fileHoldsExactlyTheLinesWithCrLf() {
    QTemporaryDir dir;
    EventQueue q(dir.filePath("Eventos_Log.dat"));
    q.load();
    QVERIFY(q.append(kA));
    QCOMPARE(readBytes(q.filePath()), fileOf({kA}));
    QVERIFY(q.append(kC));
    const QByteArray bytes = readBytes(q.filePath());
    QCOMPARE(bytes, (kA + QStringLiteral("\r\n") + kC + QStringLiteral("\r\n")).toUtf8());
    QVERIFY(bytes.contains("IdN\xC3\xA3o Identificado\r\n")); // written in UTF-8
    QCOMPARE(bytes.count("\r\n"), 2);
    QCOMPARE(bytes.count('\n'), 2);
    QCOMPARE(bytes.count('\r'), 2);
    QVERIFY(q.removeHead());
    QCOMPARE(readBytes(q.filePath()), fileOf({kC}));
}

void TestEventQueue::windows1252FileLoads() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    const QByteArray windows = "Rc02 Ln3 Ct5678 Pt01 Ce3130 Su004 Dt05/03/09 Tm14:02:13 "
                               "IdN\xE3o Identificado\r\n" +
                               kA.toLatin1() + "\r\n";
    QVERIFY(writeBytes(path, windows));
    EventQueue q(path);
    QString error;
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kC, kA}));
    const auto e = eventline::parse(q.head());
    QVERIFY(e);
    QCOMPARE(e->idecall, QStringLiteral("Não Identificado"));

    // Further appends must not mix encodings in one file: it reads back whole.
    QVERIFY(q.append(kD));
    EventQueue again(path);
    QCOMPARE(again.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(again.lines(), QList<QString>({kC, kA, kD}));
}

// Without a rejects file (the repeater queue) an unended last line is kept as a line of its own.
void TestEventQueue::lastLineWithoutLineEndStaysItsOwnLine() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    QVERIFY(writeBytes(path, kA.toUtf8() + "\r\n" + kB.toUtf8()));
    EventQueue q(path);
    QCOMPARE(q.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA, kB}));
    QVERIFY(q.append(kC));
    QCOMPARE(readBytes(path), fileOf({kA, kB, kC}));
}

// An append cut short by a power failure leaves its line without CR LF; it was never
// acknowledged. At load it goes to the rejects file and out of the queue file; a queue whose
// lines all end, and an empty one, are left exactly as they are.
void TestEventQueue::tornLastLineGoesToTheRejects() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    RejectLog rejects(dir.filePath("Eventos_Rejeitados.dat"));
    const QString when = QStringLiteral("09/03/2026 10:00:00");
    const QString reason =
        QStringLiteral("linha incompleta no fim da fila (gravação interrompida)");

    // "Não" cut inside its "ã": the whole lines keep their UTF-8.
    const QByteArray tornUtf8 = kD.left(20).toUtf8() + " IdN\xC3";
    QVERIFY(writeBytes(path, fileOf({kA, kC}) + tornUtf8));
    EventQueue q(path);
    QCOMPARE(q.load(nullptr, &rejects, when), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA, kC}));
    QCOMPARE(readBytes(path), fileOf({kA, kC}));
    QVERIFY(q.append(kB));
    QCOMPARE(readBytes(path), fileOf({kA, kC, kB}));
    const QByteArray firstReject = readBytes(rejects.filePath());
    QVERIFY2(firstReject.startsWith(kD.left(20).toUtf8() + " IdN"), firstReject.constData());
    QVERIFY2(firstReject.endsWith((" | " + when + " | " + reason + "\r\n").toUtf8()),
             firstReject.constData());
    QCOMPARE(firstReject.count("\r\n"), 1);

    // Cut between its CR and its LF: still not acknowledged.
    QVERIFY(writeBytes(path, fileOf({kA}) + kB.toUtf8() + "\r"));
    QCOMPARE(q.load(nullptr, &rejects, when), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA}));
    QCOMPARE(readBytes(path), fileOf({kA}));
    QCOMPARE(readBytes(rejects.filePath()),
             firstReject + (kB + " | " + when + " | " + reason + "\r\n").toUtf8());

    // Whole files, the only line unended included, change nothing but what is torn.
    const QByteArray before = readBytes(rejects.filePath());
    QVERIFY(writeBytes(path, fileOf({kA, kB})));
    QCOMPARE(q.load(nullptr, &rejects, when), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA, kB}));
    QCOMPARE(readBytes(path), fileOf({kA, kB}));
    QVERIFY(writeBytes(path, QByteArray()));
    QCOMPARE(q.load(nullptr, &rejects, when), EventQueue::LoadStatus::Loaded);
    QVERIFY(q.isEmpty());
    QCOMPARE(readBytes(path), QByteArray());
    QCOMPARE(readBytes(rejects.filePath()), before);
    QVERIFY(writeBytes(path, kC.toUtf8()));
    QCOMPARE(q.load(nullptr, &rejects, when), EventQueue::LoadStatus::Loaded);
    QVERIFY(q.isEmpty());
    QCOMPARE(readBytes(path), QByteArray());
    QCOMPARE(readBytes(rejects.filePath()),
             before + (kC + " | " + when + " | " + reason + "\r\n").toUtf8());
}

// The console's own start treats its event queue so, and records only the whole lines.
void TestEventQueue::consoleStartsWithoutTheTornLine() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Dados"));
    const QString data = dir.filePath("Dados");
    {
        Database database(data + "/TULMO.FDB"); // a station in use
        QString error;
        QVERIFY2(database.open(&error), qPrintable(error));
    }
    QVERIFY(writeBytes(data + "/Eventos_Log.dat", fileOf({kA}) + kB.left(30).toUtf8()));
    QVERIFY(writeBytes(data + "/EventosRepetidora.dat", QByteArray("1,frame")));
    ManualClock clock(QDateTime(QDate(2026, 3, 9), QTime(10, 0, 0)));
    ConsoleCore core(dir.path(), clock, nullptr, nullptr);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    QCOMPARE(core.eventQueue().lines(), QList<QString>({kA}));
    // In its own form: the header with the queue's identity, then the whole line.
    QCOMPARE(readBytes(data + "/Eventos_Log.dat"),
             "#TULMO-FILA " + core.eventQueue().identity().toUtf8() + " 1\r\n" + fileOf({kA}));
    QCOMPARE(readBytes(core.rejects().filePath()),
             (kB.left(30) +
              " | 09/03/2026 10:00:00 | linha incompleta no fim da fila (gravação interrompida)\r\n")
                 .toUtf8());
    QCOMPARE(core.repeaterQueue().lines(), QList<QString>({"1,frame"}));
    // Its device was never answered; an operator hears of it all the same.
    tulmo::test::tickAndSettle(core);
    QSqlDatabase db = core.database().primary();
    QCOMPARE(tulmo::test::column(db, "select DESCRICAO from EVENTOS where TIPO = 'INTERNO' and "
                                     "TRATADO = 0 and CLIENTE = 'EVENTO INTERNO'"),
             QVariantList({QString("linha incompleta na fila: " + kB.left(30)).left(60)}));
}

void TestEventQueue::lineBreaksInsideALineCannotSplitIt() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path);
    q.load();
    QVERIFY(q.append(QStringLiteral("Rc01 Ln1\r\nCt1234 Pt1")));
    QVERIFY(q.append(QStringLiteral("Rc01\nLn1\rCt1234")));
    QCOMPARE(q.size(), 2);
    for (const QString &l : q.lines()) {
        QVERIFY(!l.contains(QLatin1Char('\r')));
        QVERIFY(!l.contains(QLatin1Char('\n')));
    }
    QCOMPARE(readBytes(path).count("\r\n"), 2);
    EventQueue again(path);
    QCOMPARE(again.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(again.size(), 2);
    QCOMPARE(again.lines(), q.lines());
    QVERIFY(again.lines().first().startsWith(QStringLiteral("Rc01 Ln1")));
    QVERIFY(again.lines().first().endsWith(QStringLiteral("Ct1234 Pt1")));
}

// A damaged header whose number is near the counter's end: numbering its lines, and taking
// them, would run past it. The lines stay, under a new identity, numbered from 1.
void TestEventQueue::headerNumberWithoutRoomToCountStartsAfresh() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    QVERIFY(writeBytes(path, "#TULMO-FILA 5b0c1f9e 9223372036854775807\r\n" + fileOf({kA, kB})));
    EventQueue q(path, EventQueue::Numbering::Numbered);
    QCOMPARE(q.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA, kB}));
    QVERIFY(q.identity() != QLatin1String("5b0c1f9e"));
    QCOMPARE(q.numberAt(q.size() - 1), 2);
    QVERIFY(q.takeFirst(1));
    QCOMPARE(readBytes(path), "#TULMO-FILA " + q.identity().toUtf8() + " 2\r\n" + fileOf({kB}));

    // A header with room left keeps its identity and number.
    QVERIFY(writeBytes(path, "#TULMO-FILA 5b0c1f9e 4611686018427387903\r\n" + fileOf({kA})));
    QCOMPARE(q.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.identity(), QStringLiteral("5b0c1f9e"));
    QCOMPARE(q.numberAt(0), Q_INT64_C(4611686018427387903));
}

void TestEventQueue::staleTemporaryFileIsIgnored() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    {
        EventQueue q(path);
        q.load();
        QVERIFY(q.append(kA));
        QVERIFY(q.append(kB));
    }
    // A rewrite that was interrupted before its rename left half a list behind.
    QVERIFY(writeBytes(path + ".tmp", kC.toUtf8() + "\r\nRc01 Ln1 Ct12"));
    EventQueue q(path);
    QString error;
    QCOMPARE(q.load(&error), EventQueue::LoadStatus::Loaded);
    QCOMPARE(q.lines(), QList<QString>({kA, kB}));
    QCOMPARE(readBytes(path), fileOf({kA, kB}));
    QVERIFY(q.removeHead());
    QCOMPARE(readBytes(path), fileOf({kB}));
    QVERIFY(!QFile::exists(path + ".tmp"));
    EventQueue again(path);
    QCOMPARE(again.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(again.lines(), QList<QString>({kB}));
}

void TestEventQueue::removeLastTakesBackTheNewestLine() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path);
    q.load();
    for (const QString &l : {kA, kB, kC})
        QVERIFY(q.append(l));
    QString error;
    QVERIFY2(q.removeLast(&error), qPrintable(error));
    QCOMPARE(q.lines(), QList<QString>({kA, kB}));
    QCOMPARE(readBytes(path), fileOf({kA, kB}));
    // Appending after the rewrite goes to the new file, not the replaced one.
    QVERIFY(q.append(kD));
    QCOMPARE(readBytes(path), fileOf({kA, kB, kD}));
    EventQueue again(path);
    again.load();
    QCOMPARE(again.lines(), QList<QString>({kA, kB, kD}));
}

void TestEventQueue::removalsFromAnEmptyQueue() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path);
    q.load();
    QVERIFY(q.append(kA));
    QVERIFY(q.removeLast());
    QVERIFY(q.isEmpty());
    QVERIFY(q.removeHead());
    QVERIFY(q.removeLast());
    QVERIFY(q.isEmpty());
    QCOMPARE(readBytes(path), QByteArray());
}

void TestEventQueue::rejectLogKeepsLineAndReason() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Rejeitados.dat");
    RejectLog log(path);
    QString error;
    QVERIFY2(log.append(kA, "05/03/2009 14:02:20", QStringLiteral("partição inválida"), &error),
             qPrintable(error));
    QVERIFY(log.append(kC, "05/03/2009 14:02:21", QStringLiteral("data ilegível\r\nsegunda")));
    const QByteArray expected =
        (kA + QStringLiteral(" | 05/03/2009 14:02:20 | partição inválida\r\n") + kC +
         QStringLiteral(" | 05/03/2009 14:02:21 | data ilegível  segunda\r\n"))
            .toUtf8();
    QCOMPARE(readBytes(path), expected);
}

// A writer process is killed at random moments, during appends and during the rewrites of
// removeHead. Whatever it had been told was written must be in the file, in order.
void TestEventQueue::acknowledgedLinesSurviveAKill() {
    const quint32 seed = QRandomGenerator::system()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator rng(seed);
    constexpr quint32 kPrefill = 300; // so that a rewrite takes a while
    constexpr int kRounds = 16;
    int killedWithTemporary = 0;

    QTemporaryDir dir;
    for (int round = 0; round < kRounds; ++round) {
        // One round in four only appends; the others also take the head, and half of all
        // rounds aim the kill at a removal's rewrite.
        const bool withRemovals = round % 4 != 0;
        const bool aimAtRewrite = round % 4 >= 2;
        const QString path = dir.filePath(QStringLiteral("fila%1.dat").arg(round));
        QStringList prefill;
        for (quint32 n = 1; n <= kPrefill; ++n)
            prefill << lineFor(n);
        QVERIFY(writeBytes(path, fileOf(prefill)));

        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::close(fds[0]);
            writerProcess(path, kPrefill, withRemovals, fds[1]);
        }
        ::close(fds[1]);

        // Kill after a random number of acknowledgements; the writer is then somewhere in
        // its next operation. After k acknowledgements it is at step k, and steps 2, 5, 8 ...
        // are removals: aimed rounds wait for the removal's temporary file to appear.
        quint32 killAfter = rng.bounded(1u, 90u);
        if (aimAtRewrite) killAfter = killAfter / 3 * 3 + 2;
        const QByteArray tmpName = QFile::encodeName(path + ".tmp");
        Ack last{kPrefill, 0};
        quint32 acks = 0;
        bool killed = false;
        for (;;) {
            Ack a;
            const auto n = ::read(fds[0], &a, sizeof a);
            if (n == 0) break; // the writer is gone
            if (n < 0 && errno == EINTR) continue;
            QCOMPARE(n, qint64(sizeof a));
            last = a;
            if (++acks >= killAfter && !killed) {
                quint32 spin = rng.bounded(1000000u) >> rng.bounded(10u);
                if (aimAtRewrite) {
                    for (int tries = 0; tries < 100000 && ::access(tmpName.constData(), F_OK) != 0;
                         ++tries) {
                    }
                    spin = rng.bounded(20000u);
                }
                // Up to about a millisecond more, so that the blow lands anywhere in the
                // operation: writing, flushing or renaming.
                for (; spin > 0; --spin)
                    asm volatile("");
                ::kill(pid, SIGKILL);
                killed = true;
            }
        }
        ::close(fds[0]);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
                 qPrintable(QStringLiteral("writer ended by itself, status %1").arg(status)));
        QVERIFY(acks >= killAfter);
        if (QFile::exists(path + ".tmp")) ++killedWithTemporary; // killed inside a rewrite

        EventQueue q(path);
        QString error;
        QCOMPARE(q.load(&error), EventQueue::LoadStatus::Loaded);
        const QList<QString> &lines = q.lines();
        QVERIFY(!lines.isEmpty());

        // The head: every acknowledged removal happened; one more may have (its rename done,
        // its acknowledgement not yet sent).
        quint32 first = last.removed + 1;
        if (lines.first() != lineFor(first) && withRemovals && lines.first() == lineFor(first + 1))
            ++first;
        QVERIFY2(lines.first() == lineFor(first),
                 qPrintable(QStringLiteral("round %1: head %2, acknowledged removals %3")
                                .arg(round)
                                .arg(lines.first())
                                .arg(last.removed)));

        // Then every line in order, none missing, up to at least the last acknowledged one.
        quint32 expected = first;
        qsizetype i = 0;
        for (; i < lines.size() && lines.at(i) == lineFor(expected); ++i)
            ++expected;
        const quint32 lastWhole = expected - 1;
        QVERIFY2(lastWhole >= last.appended,
                 qPrintable(QStringLiteral("round %1: file ends at %2, acknowledged %3")
                                .arg(round)
                                .arg(lastWhole)
                                .arg(last.appended)));
        QVERIFY(lastWhole <= last.appended + 1);
        // Only a line nobody was told about may be cut short, and only at the very end.
        if (i < lines.size()) {
            QCOMPARE(i, lines.size() - 1);
            QCOMPARE(lastWhole, last.appended);
            QVERIFY(lineFor(lastWhole + 1).startsWith(lines.at(i)));
        }
        QVERIFY(!QFile::exists(path + ".tmp"));
    }
    qInfo("%d of %d kills left a temporary file behind", killedWithTemporary, kRounds);
}

// Written in the background: the first line's flush is held (the disk cannot be slowed on
// demand); the lines staged meanwhile are written by one more write and fdatasync, and the
// answers come in the order asked, none before its lines are flushed.
void TestEventQueue::linesStagedDuringAFlushShareTheNextOneAndAreAnsweredInOrder() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path, EventQueue::Numbering::Numbered);
    QCOMPARE(q.load(), EventQueue::LoadStatus::CreatedEmpty);
    q.writeInBackground();
    q.holdWrites(true);
    QStringList answers;
    QVERIFY(q.stage(lineFor(1)));
    q.whenDurable([&](bool ok) { answers << QString("1:%1").arg(ok); });
    // Written, not flushed: the writer waits before its fdatasync.
    QVERIFY(tulmo::test::waitFor([&] { return readBytes(path).contains(lineFor(1).toUtf8()); }));
    for (quint32 n = 2; n <= 100; ++n)
        QVERIFY(q.stage(lineFor(n)));
    q.whenDurable([&](bool ok) { answers << QString("100:%1").arg(ok); });
    q.whenDurable([&](bool ok) { answers << QString("100b:%1").arg(ok); });
    tulmo::test::waitFor([] { return false; }, 200);
    QVERIFY(answers.isEmpty());
    QCOMPARE(q.durableCount(), 0);
    QVERIFY(q.hasStaged());
    QCOMPARE(q.flushCount(), 0);
    q.holdWrites(false);
    QVERIFY(tulmo::test::waitFor([&] { return answers.size() == 3; }));
    QCOMPARE(answers, QStringList({"1:1", "100:1", "100b:1"}));
    QCOMPARE(q.flushCount(), 2);
    QCOMPARE(q.durableCount(), 100);
    // Nothing in flight: the answer still comes on a later turn of the event loop.
    bool answered = false;
    q.whenDurable([&](bool ok) { answered = ok; });
    QVERIFY(!answered);
    QVERIFY(tulmo::test::waitFor([&] { return answered; }));
    EventQueue again(path, EventQueue::Numbering::Numbered);
    QCOMPARE(again.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(again.lines(), q.lines());
    QCOMPARE(again.identity(), q.identity());
}

// The store takes the head while later lines are still being flushed: the replacement of the
// file comes after those appends and holds them, the appends after it land in the new file,
// and the numbers of the header follow the removal. Only lines on the disk leave the head.
void TestEventQueue::removalWhileAppendsAreInFlightKeepsTheFileAndItsNumbers() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path, EventQueue::Numbering::Numbered);
    q.load();
    q.writeInBackground();
    for (quint32 n = 1; n <= 10; ++n)
        QVERIFY(q.stage(lineFor(n)));
    QVERIFY(q.flush());
    q.holdWrites(true);
    for (quint32 n = 11; n <= 15; ++n)
        QVERIFY(q.stage(lineFor(n)));
    QCOMPARE(q.durableCount(), 10);
    QVERIFY(q.takeFirst(12)); // only the ten on the disk can leave
    QCOMPARE(q.size(), 5);
    QCOMPARE(q.numberAt(0), 11);
    QVERIFY(q.stage(lineFor(16)));
    QVERIFY(q.takeFirst(1)); // nothing more is on the disk yet
    QCOMPARE(q.size(), 6);
    q.holdWrites(false);
    QVERIFY(q.flush());
    QVERIFY(q.takeFirst(1));
    QVERIFY(q.stage(lineFor(17)));
    QVERIFY(q.flush());
    QVERIFY(q.writeFault().isEmpty());
    QStringList expected;
    for (quint32 n = 12; n <= 17; ++n)
        expected << lineFor(n);
    QCOMPARE(q.lines(), expected);
    QCOMPARE(q.numberAt(0), 12);
    EventQueue again(path, EventQueue::Numbering::Numbered);
    QCOMPARE(again.load(), EventQueue::LoadStatus::Loaded);
    QCOMPARE(again.lines(), expected);
    QCOMPARE(again.numberAt(0), 12);
    QCOMPARE(again.identity(), q.identity());
    QCOMPARE(readBytes(path), "#TULMO-FILA " + q.identity().toUtf8() + " 12\r\n" + fileOf(expected));
}

// A write the file turns away (a folder has taken its name): the lines in flight leave the
// list unanswered, so their senders repeat them and they are queued once; the fault is told
// until a write succeeds; the lines on the disk before it stay, and are still answered.
void TestEventQueue::failedBackgroundWriteDropsTheLinesInFlightAndSaysWhy() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Eventos_Log.dat");
    EventQueue q(path, EventQueue::Numbering::Numbered);
    q.load();
    q.writeInBackground();
    int changes = 0;
    q.setWriteListener([&] { ++changes; });
    QVERIFY(q.stage(kA));
    QVERIFY(q.stage(kB));
    QStringList answers;
    q.whenDurable([&](bool ok) { answers << QString("AB:%1").arg(ok); });
    QVERIFY(tulmo::test::waitFor([&] { return answers.size() == 1; }));
    QVERIFY(q.takeFirst(1)); // recorded: the file is replaced by one without it
    QVERIFY(q.flush());
    QVERIFY(QFile::rename(path, path + ".guardado"));
    QVERIFY(QDir().mkdir(path));
    QVERIFY(q.stage(kC));
    QVERIFY(q.stage(kD));
    q.whenDurable([&](bool ok) { answers << QString("CD:%1").arg(ok); });
    QVERIFY(tulmo::test::waitFor([&] { return answers.size() == 2; }));
    QCOMPARE(answers, QStringList({"AB:1", "CD:0"}));
    QCOMPARE(q.lines(), QList<QString>({kB}));
    QCOMPARE(q.durableCount(), 1);
    QCOMPARE(q.writeFault(), QString("o nome é de uma pasta"));
    QVERIFY(changes >= 2);
    QString error;
    QVERIFY(!q.append(kC, &error));
    QCOMPARE(error, QString("Não foi possível gravar \"%1\": o nome é de uma pasta").arg(path));
    QCOMPARE(q.lines(), QList<QString>({kB}));
    QVERIFY(QDir().rmdir(path));
    QVERIFY(QFile::rename(path + ".guardado", path));
    QVERIFY(q.stage(kC)); // repeated by its sender
    q.whenDurable([&](bool ok) { answers << QString("C:%1").arg(ok); });
    QVERIFY(tulmo::test::waitFor([&] { return answers.size() == 3; }));
    QCOMPARE(answers.last(), QString("C:1"));
    QVERIFY(q.writeFault().isEmpty());
    EventQueue again(path, EventQueue::Numbering::Numbered);
    again.load();
    QCOMPARE(again.lines(), QList<QString>({kB, kC}));
    QCOMPARE(again.numberAt(0), 2);
}

QTEST_GUILESS_MAIN(TestEventQueue)
#include "test_eventqueue.moc"
