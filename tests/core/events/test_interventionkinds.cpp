#include "support/TestSupport.h"

#include "core/events/InterventionKinds.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace tulmo;
using namespace tulmo::test;

namespace {
bool write(const QString &path, const QByteArray &bytes,
           QIODevice::OpenMode mode = QIODevice::WriteOnly) {
    QFile f(path);
    return f.open(mode) && f.write(bytes) == bytes.size();
}
struct timespec modifiedAt(const QString &path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}
} // namespace

class TestInterventionKinds : public QObject {
    Q_OBJECT
private slots:
    void readOnceAndAgainOnlyWhenTheFileChanges();
    void aFifoIsRefusedOnceWithoutWaiting();
};

void TestInterventionKinds::readOnceAndAgainOnlyWhenTheFileChanges() {
    QTemporaryDir dir;
    const QString path = dir.filePath("int.txt");
    InterventionKinds kinds(path);
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds(), InterventionKinds::defaults()); // no file: the built-in kinds
    QVERIFY(kinds.problem().isEmpty());
    QVERIFY(!kinds.refresh());

    QVERIFY(write(path, "Ronda\r\n\r\nManuten\xE7\xE3o\r\nPol\xED"
                        "cia\r\n"));
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds(), QStringList({"Ronda", "Manutenção", "Polícia"}));
    QVERIFY(!kinds.refresh());

    // The same file, size and time of modification: not read again (its new text is not seen),
    // however often the window is activated.
    const struct timespec before = modifiedAt(path);
    QVERIFY(write(path, "RONDA", QIODevice::ReadWrite));
    const struct timespec times[2] = {before, before};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!kinds.refresh());
    QCOMPARE(kinds.kinds(), QStringList({"Ronda", "Manutenção", "Polícia"}));

    // Any change of its size is read.
    QVERIFY(write(path, "Vigia\r\n", QIODevice::Append));
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds(), QStringList({"RONDA", "Manutenção", "Polícia", "Vigia"}));
    // Another file put in its place is read.
    QVERIFY(write(path + ".novo", "RONDA\r\nManutenção\r\nPolícia\r\nVigiA\r\n"));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(path + ".novo", path));
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds().last(), QString("VigiA"));
    QVERIFY(QFile::remove(path));
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds(), InterventionKinds::defaults());
}

// A FIFO as int.txt would hold the window (and the reception on its thread) for good: it
// gets the built-in kinds and one message, not one at every activation.
void TestInterventionKinds::aFifoIsRefusedOnceWithoutWaiting() {
    QTemporaryDir dir;
    const QString path = dir.filePath("int.txt");
    Fifo fifo(path);
    QVERIFY(fifo.ok());
    InterventionKinds kinds(path);
    QVERIFY(kinds.refresh());
    QCOMPARE(kinds.kinds(), InterventionKinds::defaults());
    QCOMPARE(kinds.problem(),
             QString("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.").arg(path));
    QVERIFY(!kinds.refresh());
    QCOMPARE(InterventionKinds::read(path), InterventionKinds::defaults());
    QVERIFY(!fifo.releasedAReader());
    // Too large a list is refused likewise.
    const QString big = dir.filePath("grande.txt");
    QVERIFY(write(big, QByteArray(2 << 20, 'a')));
    QString problem;
    QCOMPARE(InterventionKinds::read(big, &problem), InterventionKinds::defaults());
    QVERIFY2(problem.contains("tem 2 MB, e um arquivo desse tipo tem no máximo 1 MB"),
             qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestInterventionKinds)
#include "test_interventionkinds.moc"
