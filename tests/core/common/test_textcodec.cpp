#include "support/TestSupport.h"

#include "core/common/TextCodec.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tulmo;

namespace {

QString gravar(const QTemporaryDir &dir, const char *nome, const QByteArray &bytes) {
    const QString caminho = dir.filePath(QLatin1String(nome));
    QFile f(caminho);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", nome);
    return caminho;
}

} // namespace

class TestTextCodec : public QObject {
    Q_OBJECT
private slots:
    void windows1252WithCrLf();
    void utf8WithMarkAndLf();
    void lineBreaksAndBlankLines();
    void missingFile();
    void roundTrip();
};

// What the Windows version writes: Windows-1252, CR LF after every line.
void TestTextCodec::windows1252WithCrLf() {
    QTemporaryDir dir;
    const QString caminho =
        gravar(dir, "int.txt", "Manuten\xE7\xE3o\r\nT\xE9" "cnico Enviado\r\n\x80 \x93" "x\x94\r\n");
    bool ok = false;
    QString erro = QStringLiteral("antes");
    QCOMPARE(readWindowsTextLines(caminho, 1024, &ok, &erro),
             QStringList({QStringLiteral("Manutenção"), QStringLiteral("Técnico Enviado"),
                          QStringLiteral("€ “x”")}));
    QVERIFY(ok);
    QCOMPARE(erro, QStringLiteral("antes"));
}

// Ours: UTF-8; a mark at the start (as some editors write it) is not part of the first line.
void TestTextCodec::utf8WithMarkAndLf() {
    QTemporaryDir dir;
    const QString caminho = gravar(dir, "fila.dat", "\xEF\xBB\xBFRonda\nManuten\xC3\xA7\xC3\xA3o");
    bool ok = false;
    QCOMPARE(readWindowsTextLines(caminho, 1024, &ok),
             QStringList({QStringLiteral("Ronda"), QStringLiteral("Manutenção")}));
    QVERIFY(ok);
    // One byte that is not UTF-8 makes the whole file Windows-1252.
    QCOMPARE(windowsTextLines("Manuten\xC3\xA7\xC3\xA3o\r\n\xE9"),
             QStringList({QStringLiteral("ManutenÃ§Ã£o"), QStringLiteral("é")}));
}

void TestTextCodec::lineBreaksAndBlankLines() {
    // Blank lines inside stay (the callers decide what they mean); a lone CR ends a line too;
    // only the break after the last line starts nothing.
    QCOMPARE(windowsTextLines("a\r\n\r\nb\rc\n\n"),
             QStringList({QStringLiteral("a"), QString(), QStringLiteral("b"),
                          QStringLiteral("c"), QString()}));
    QCOMPARE(windowsTextLines("  x  "), QStringList({QStringLiteral("  x  ")}));
    QVERIFY(windowsTextLines(QByteArray()).isEmpty());
    QVERIFY(windowsTextLines("\xEF\xBB\xBF").isEmpty());
    QCOMPARE(windowsTextLines("\r\n"), QStringList({QString()}));
}

void TestTextCodec::missingFile() {
    QTemporaryDir dir;
    bool ok = true;
    QString erro;
    QVERIFY(readWindowsTextLines(dir.filePath("nao-existe.txt"), 1024, &ok, &erro).isEmpty());
    QVERIFY(!ok);
    QVERIFY(!erro.isEmpty());
    // An empty file is read, and has no line.
    ok = false;
    QVERIFY(readWindowsTextLines(gravar(dir, "vazio.txt", QByteArray()), 1024, &ok).isEmpty());
    QVERIFY(ok);
}

void TestTextCodec::roundTrip() {
    const QString text = QStringLiteral("Ação € ‰ Ž");
    QCOMPARE(fromWindows1252(toWindows1252(text)), text);
    QCOMPARE(toWindows1252(QStringLiteral("日")), QByteArray("?"));
}

QTEST_GUILESS_MAIN(TestTextCodec)
#include "test_textcodec.moc"
