#include "core/common/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tulmo;

// A program started through a link (the station folder of an installed station) takes the
// link's folder as its own: Dados/ and Sons/ are found there, the installed folder is never
// written. Started from its own file, or by a bare name, it keeps its executable's folder.
class TestPaths : public QObject {
    Q_OBJECT
private slots:
    void theProgramFolderIsThatOfTheLinkItWasStartedThrough() {
        QTemporaryDir dir;
        QDir().mkpath(dir.path() + "/usr/lib/tulmo");
        QDir().mkpath(dir.path() + "/var/lib/tulmo");
        const QString real = dir.path() + "/usr/lib/tulmo/tulmo";
        QFile f(real);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString link = dir.path() + "/var/lib/tulmo/tulmo";
        QVERIFY(QFile::link(real, link));
        const QString installed = dir.path() + "/usr/lib/tulmo";
        QCOMPARE(Paths::startedFrom(link, installed), dir.path() + "/var/lib/tulmo");
        QCOMPARE(Paths::startedFrom(real, installed), installed);
        QCOMPARE(Paths::startedFrom("tulmo", installed), installed);
        QCOMPARE(Paths::startedFrom(QString(), installed), installed);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "test_paths.moc"
