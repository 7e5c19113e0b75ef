#include "support/TestSupport.h"

#include "core/common/RegularFile.h"
#include "core/common/SystemError.h"
#include "core/common/TextCodec.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tulmo;
using namespace tulmo::test;

namespace {
QString write(const QTemporaryDir &dir, const char *name, const QByteArray &bytes) {
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    return path;
}
} // namespace

class TestRegularFile : public QObject {
    Q_OBJECT
private slots:
    void regularFilesWithinTheLimitAreRead();
    void whatIsNoRegularFileIsRefusedWithoutWaiting();
    void tooLargeIsRefusedWithBothSizes();
    void missingAndUnreadable();
    void sizesAndErrorsInPortuguese();
};

void TestRegularFile::regularFilesWithinTheLimitAreRead() {
    QTemporaryDir dir;
    const QString path = write(dir, "int.txt", "Ronda\r\nManutenção\r\n");
    QByteArray bytes;
    const FileCheck c = readReadable(path, 64, &bytes);
    QVERIFY2(c.ok(), qPrintable(c.error));
    QCOMPARE(bytes, QByteArray("Ronda\r\nManutenção\r\n"));
    QCOMPARE(c.size, bytes.size());
    // A link to a regular file is one; exactly at the limit is within it.
    QVERIFY(QFile::link(path, dir.filePath("link.txt")));
    QVERIFY(readReadable(dir.filePath("link.txt"), bytes.size(), &bytes).ok());
    QCOMPARE(readWindowsTextLines(dir.filePath("link.txt"), 64),
             QStringList({"Ronda", "Manutenção"}));
}

// A FIFO opened to read waits for a writer that never comes; a device may never end. Each is
// refused at once, by name of its kind, and whatever reads through the helpers says so.
void TestRegularFile::whatIsNoRegularFileIsRefusedWithoutWaiting() {
    QTemporaryDir dir;
    const QString fifoPath = dir.filePath("int.txt");
    Fifo fifo(fifoPath);
    QVERIFY(fifo.ok());
    QByteArray bytes;
    FileCheck c = readReadable(fifoPath, 1 << 20, &bytes);
    QCOMPARE(c.status, FileCheck::Status::NotRegular);
    QCOMPARE(c.error,
             QString("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.").arg(fifoPath));
    bool ok = true;
    QString error;
    QVERIFY(readWindowsTextLines(fifoPath, 1 << 20, &ok, &error).isEmpty());
    QVERIFY(!ok);
    QCOMPARE(error, c.error);
    QFile f;
    QCOMPARE(openReadable(f, fifoPath, 1 << 20).status, FileCheck::Status::NotRegular);
    QVERIFY(!f.isOpen());
    QVERIFY(!fifo.releasedAReader());

    QCOMPARE(
        checkReadable(dir.path(), 1 << 20).error,
        QString("\"%1\" não é um arquivo comum (é uma pasta) e não foi lido.").arg(dir.path()));
    c = readReadable("/dev/zero", 1 << 20, &bytes);
    QCOMPARE(c.status, FileCheck::Status::NotRegular);
    QCOMPARE(c.error,
             QString("\"/dev/zero\" não é um arquivo comum (é um dispositivo) e não foi lido."));
    QVERIFY(bytes.isEmpty());

    const QString socketPath = dir.filePath("s");
    const int sfd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, QFile::encodeName(socketPath).constData(), sizeof addr.sun_path);
    QCOMPARE(::bind(sfd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    QVERIFY(checkReadable(socketPath, 1 << 20).error.contains("(é um socket)"));
    ::close(sfd);
}

void TestRegularFile::tooLargeIsRefusedWithBothSizes() {
    QTemporaryDir dir;
    const QString path = write(dir, "Config.ini", QByteArray(10 * 1024 * 1024 + 300 * 1024, 'x'));
    QByteArray bytes;
    const FileCheck c = readReadable(path, FileLimits::kConfigIni, &bytes);
    QCOMPARE(c.status, FileCheck::Status::TooLarge);
    QCOMPARE(c.size, 10 * 1024 * 1024 + 300 * 1024);
    QCOMPARE(c.error, QString("O arquivo \"%1\" não foi lido: tem 10,3 MB, e um arquivo desse "
                              "tipo tem no máximo 1 MB.")
                          .arg(path));
    QVERIFY(bytes.isEmpty());
    QCOMPARE(readReadable(path, 10 * 1024 * 1024 + 300 * 1024 - 1, &bytes).status,
             FileCheck::Status::TooLarge);
}

void TestRegularFile::missingAndUnreadable() {
    QTemporaryDir dir;
    const FileCheck missing = checkReadable(dir.filePath("nao-existe.CFG"), 100);
    QVERIFY(missing.missing());
    QCOMPARE(missing.reason, QString("arquivo ou pasta inexistente"));
    QCOMPARE(missing.error,
             QString("O arquivo \"%1\" não existe.").arg(dir.filePath("nao-existe.CFG")));
    QVERIFY(checkReadable(QString(), 100).missing());
    if (::geteuid() == 0) return; // permissions bind everyone but the administrator
    const QString path = write(dir, "fechado.txt", "x");
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    QByteArray bytes;
    const FileCheck c = readReadable(path, 100, &bytes);
    QCOMPARE(c.status, FileCheck::Status::Unreadable);
    QCOMPARE(c.error,
             QString("Não foi possível ler o arquivo \"%1\": sem permissão de leitura").arg(path));
}

void TestRegularFile::sizesAndErrorsInPortuguese() {
    QCOMPARE(fileSizeText(512), QString("512 bytes"));
    QCOMPARE(fileSizeText(64 * 1024), QString("64 KB"));
    QCOMPARE(fileSizeText(1536), QString("1,5 KB"));
    QCOMPARE(fileSizeText(256LL << 20), QString("256 MB"));
    QCOMPARE(fileErrorText(ENOSPC, FileAccess::Writing), QString("disco cheio"));
    QCOMPARE(fileErrorText(EACCES, FileAccess::Writing), QString("sem permissão de escrita"));
    QCOMPARE(fileErrorText(EROFS, FileAccess::Writing), QString("disco somente para leitura"));
    QVERIFY(!fileErrorText(EXDEV, FileAccess::Writing).isEmpty()); // the system's own text
}

QTEST_GUILESS_MAIN(TestRegularFile)
#include "test_regularfile.moc"
