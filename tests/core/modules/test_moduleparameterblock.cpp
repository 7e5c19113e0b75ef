#include "core/modules/ChannelReading.h"
#include "core/modules/ModuleCfgFile.h"
#include "core/modules/ModuleParameterBlock.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tulmo;

namespace {

// A block as a module sends it: every field set, texts padded as the module pads them,
// 0x0D inside a text and bit 0x80 of Configuracoes set.
QByteArray moduleBlock() {
    QByteArray raw(kBlockSize, '\0');
    auto put = [&](int offset, const QByteArray &bytes) {
        raw.replace(offset, bytes.size(), bytes);
    };
    put(0, QByteArray::fromHex("0013")); // equipment 2007 + 19
    put(2, QByteArray::fromHex("02"));   // QVN-12 Universal
    put(3, QByteArray::fromHex("1A2B")); // Data
    put(5, QByteArray::fromHex("07"));   // Velocidade_Com
    put(6, QByteArray::fromHex("05"));   // keep-alive
    put(7, QByteArray::fromHex("03E7")); // 999 s
    put(9, QByteArray::fromHex("02"));   // "Somente GPRS"
    put(10, "123400\r");
    put(17, "200.10.20.30\r\r\r\r");
    put(33, "200.10.20.31\r\r\r\r");
    put(49, QByteArray(16, '\r'));
    put(65, "zap.vivo.com.br" + QByteArray(15, '\r'));
    put(95, "vivo" + QByteArray(26, '\r'));
    put(125, "vi\rvo" + QByteArray(25, '\r')); // a stray 0x0D inside the text
    put(155, "central.exemplo.com.br" + QByteArray(8, '\r'));
    put(185, "8.8.8.8" + QByteArray(9, '\r'));
    put(201, "9000\r\r");
    put(207, "60418273");
    put(215, "1200");
    put(219, "11987654321\r\r\r");
    put(233, "1133334444\r\r\r\r");
    put(247, "0042");
    put(251, QByteArray::fromHex("030A0405"));
    for (int n = 0; n < kChannels; ++n) {
        raw[255 + n] = char(100 + n);
        raw[267 + n] = char(200 + n);
        raw[279 + n] = char(n);
        raw[291 + n] = char(255 - n);
        put(320 + 20 * n,
            QStringLiteral("Alto %1 Ação").arg(n + 1).toLatin1().leftJustified(20, '\r'));
        put(560 + 20 * n, QByteArray("Baixo ") + QByteArray::number(n + 1) + QByteArray(20, '\r'));
    }
    raw.truncate(kBlockSize);
    raw[303] = char(0x80 | 0x20 | 0x04 | 0x01);
    put(304, "10.0.0.7\r\r\r\r\r\r\r\r");
    return raw;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    return f.fileName();
}

} // namespace

class TestModuleParameterBlock : public QObject {
    Q_OBJECT
private slots:
    void moduleBlockDecodesAndComesBackByteForByte();
    void emptyShortAndGarbledTextsDecodeToZeros();
    void encodingPadsTrimsAndKeepsLowBits();
    void modelCodeAndName();
    void configurationFiles();
    void channelReadingAndPgmCommands();
    void decimalTextsOfTheEditor();
};

void TestModuleParameterBlock::moduleBlockDecodesAndComesBackByteForByte() {
    const QByteArray raw = moduleBlock();
    const QString hex = blockToHex(raw);
    QCOMPARE(hex.size(), kBlockHexSize);
    QCOMPARE(hex.left(10), QStringLiteral("0013021A2B"));
    QCOMPARE(hexToBlock(hex), raw);

    const ModuleParameterBlock b = DecodeParameterBlock(hex);
    QCOMPARE(b.Numero_Equipamento, 2026);
    QCOMPARE(b.Equipamento, 2);
    QCOMPARE(b.Data, 0x1A2B);
    QCOMPARE(b.Velocidade_Com, 7);
    QCOMPARE(b.Spin_Chamadas_Externas, 999);
    QCOMPARE(b.Modo_Reportagem, 2);
    QCOMPARE(b.IMEI, QStringLiteral("123400")); // "0" padding is part of the text
    QCOMPARE(b.IP_Primario, QStringLiteral("200.10.20.30"));
    QCOMPARE(b.IP_Secundario2, QString());
    QCOMPARE(b.Senha_Operadora, QStringLiteral("vivo")); // the 0x0D inside is dropped
    QCOMPARE(b.Porta_Remota, QStringLiteral("9000"));
    QCOMPARE(b.Conta_Interna, QStringLiteral("0042"));
    QCOMPARE(b.Tempo_Tentativas, 10);
    QCOMPARE(b.Nivel_Baixo[11], 111);
    QCOMPARE(b.Tempo_Alto[11], 244);
    QCOMPARE(b.Configuracoes, 0xA5);
    QCOMPARE(b.IP_Local, QStringLiteral("10.0.0.7"));
    QCOMPARE(b.SMS_Alto[0], QStringLiteral("Alto 1 Ação")); // Windows-1252 characters
    QCOMPARE(b.SMS_Baixo[11], QStringLiteral("Baixo 12"));
    // The same from the raw bytes and from lower-case digits.
    QCOMPARE(decodeRawBlock(raw), b);
    QCOMPARE(DecodeParameterBlock(hex.toLower()), b);

    // Unchanged, the block goes back as it came, bit 0x80 included, except the 0x0D that
    // stood inside a text: the text closes up and the padding follows it.
    QByteArray expected = raw;
    expected.replace(125, 30, "vivo" + QByteArray(26, '\r'));
    QCOMPARE(EncodeParameterBlock(b), expected);
    QCOMPARE(EncodeParameterBlock(DecodeParameterBlock(blockToHex(expected))), expected);
}

void TestModuleParameterBlock::emptyShortAndGarbledTextsDecodeToZeros() {
    const ModuleParameterBlock empty = DecodeParameterBlock(QString());
    QCOMPARE(empty, ModuleParameterBlock());
    QCOMPARE(empty.Numero_Equipamento, 2007);
    QCOMPARE(decodeRawBlock(QByteArray()), empty);

    // A short text: what is there is read, what is missing is 0 and empty; a field whose
    // digits are cut in the middle is 0 as a whole.
    QString hex = blockToHex(moduleBlock());
    const ModuleParameterBlock cut = DecodeParameterBlock(hex.left(2 * 10 + 7));
    QCOMPARE(cut.Equipamento, 2);
    QCOMPARE(cut.Spin_Chamadas_Externas, 999);
    QCOMPARE(cut.IMEI, QStringLiteral("123")); // 3 whole bytes and half of one
    QCOMPARE(cut.IP_Primario, QString());
    QCOMPARE(cut.Configuracoes, 0);

    // Digits that are not hexadecimal: a two-byte number half garbled is 0, a garbled text
    // byte disappears, everything else is read.
    hex[2 * 7 + 1] = QLatin1Char('G'); // Spin_Chamadas_Externas, first byte
    hex[2 * 11] = QLatin1Char('Z');    // IMEI, second character
    hex[2 * 303] = QChar(0x00C9);      // Configuracoes
    const ModuleParameterBlock garbled = DecodeParameterBlock(hex + QStringLiteral("FFFF"));
    QCOMPARE(garbled.Spin_Chamadas_Externas, 0);
    QCOMPARE(garbled.IMEI, QStringLiteral("13400"));
    QCOMPARE(garbled.Configuracoes, 0);
    QCOMPARE(garbled.Data, 0x1A2B);
    QCOMPARE(garbled.SMS_Baixo[11], QStringLiteral("Baixo 12"));
    QCOMPARE(hexToBlock(hex).at(7), '\0');
    QCOMPARE(hexToBlock(hex).size(), kBlockSize);
    QVERIFY(blockHexProblem(hex).contains(QStringLiteral("posição 16")));
    QVERIFY(blockHexProblem(blockToHex(moduleBlock()).left(100))
                .contains(QStringLiteral("tem 100 dígitos")));
    QCOMPARE(blockHexProblem(blockToHex(moduleBlock())), QString());
}

void TestModuleParameterBlock::encodingPadsTrimsAndKeepsLowBits() {
    ModuleParameterBlock b;
    b.IMEI = QStringLiteral(" 1234 ");
    b.Senha_SMS = QStringLiteral("7");
    b.Conta_Interna = QStringLiteral("12");
    b.APN_Operadora = QStringLiteral("a").repeated(30);
    b.Telefone_SMS = QStringLiteral("55119876543210");
    b.Usuario_Operadora = QStringLiteral("  usuario  ");
    b.IP_Primario = QStringLiteral(" 10.0.0.1");       // taken as it is
    b.DNS_Remoto = QStringLiteral("x").repeated(40);   // cut to its width
    b.SMS_Alto[3] = QStringLiteral("Porta aberta €∑"); // ∑ is not Windows-1252
    b.Numero_Equipamento = 2006;                       // below the base: wraps
    b.Spin_Keep_Alive = 300;
    b.Spin_Chamadas_Externas = 0x12345;
    b.Nivel_Alto[0] = 260; // 26,0 V
    const QByteArray raw = EncodeParameterBlock(b);
    QCOMPARE(raw.size(), kBlockSize);
    QCOMPARE(raw.mid(10, 7), QByteArray("123400\r"));
    QCOMPARE(raw.mid(215, 4), QByteArray("7000"));
    QCOMPARE(raw.mid(247, 4), QByteArray("1200"));
    QCOMPARE(raw.mid(65, 30), QByteArray(30, 'a'));
    QCOMPARE(raw.mid(219, 14), QByteArray("55119876543210"));
    QCOMPARE(raw.mid(233, 14), QByteArray(14, '\r'));
    QCOMPARE(raw.mid(95, 30), "usuario" + QByteArray(23, '\r'));
    QCOMPARE(raw.mid(17, 16), " 10.0.0.1" + QByteArray(7, '\r'));
    QCOMPARE(raw.mid(155, 30), QByteArray(30, 'x'));
    QCOMPARE(raw.mid(380, 20), "Porta aberta \x80?" + QByteArray(5, '\r'));
    QCOMPARE(raw.mid(207, 8), QByteArray("00000000"));
    QCOMPARE(raw.mid(0, 2), QByteArray("\xFF\xFF"));
    QCOMPARE(raw.at(6), char(300 & 0xFF));
    QCOMPARE(raw.mid(7, 2), QByteArray("\x23\x45"));
    QCOMPARE(raw.at(267), char(4));

    // What the module will hold, as the editor shows it after a close.
    const ModuleParameterBlock shown = normalizedTexts(b);
    QCOMPARE(shown.IMEI, QStringLiteral("123400"));
    QCOMPARE(shown.Conta_Interna, QStringLiteral("1200"));
    QCOMPARE(shown.Usuario_Operadora, QStringLiteral("usuario"));
    QCOMPARE(shown.SMS_Alto[3], QStringLiteral("Porta aberta €?"));
    QCOMPARE(shown.Spin_Keep_Alive, 300); // numbers are not the texts' business
}

void TestModuleParameterBlock::modelCodeAndName() {
    const struct {
        int code;
        const char *name;
    } models[] = {{1, "QVN-12 Dedicado"},
                  {2, "QVN-12 Universal"},
                  {3, "QVN-8 Universal"},
                  {13, "LX-ORB1"},
                  {14, "LX-ORB2"},
                  {0, ""},
                  {4, ""},
                  {255, ""}};
    for (const auto &m : models) {
        QCOMPARE(moduleModelName(m.code), QString::fromUtf8(m.name));
        QCOMPARE(isEditableModel(moduleModelName(m.code)), m.code >= 1 && m.code <= 3);
    }
    QByteArray raw = moduleBlock();
    QCOMPARE(moduleModelCode(blockToHex(raw)), 2);
    QCOMPARE(moduleModelCode(raw), 2);
    raw[2] = char(13);
    QCOMPARE(moduleModelCode(blockToHex(raw).left(6)), 13);
    QCOMPARE(moduleModelCode(raw.left(3)), 13);
    QCOMPARE(moduleModelCode(QStringLiteral("00000")), 0); // short
    QCOMPARE(moduleModelCode(QStringLiteral("00000X")), 0);
    QCOMPARE(moduleModelCode(QByteArray("\0\0", 2)), 0);
}

void TestModuleParameterBlock::configurationFiles() {
    QTemporaryDir dir;
    const QString hex = blockToHex(moduleBlock());

    const QString path = dir.filePath(QStringLiteral("Configurações.CFG"));
    QVERIFY(writeCfgFile(path, hex).written);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), hex.toLatin1() + "\r\n");
    CfgReadResult r = readCfgFile(path);
    QVERIFY(r.read && r.isBlock);
    QCOMPARE(r.hex, hex);
    QCOMPARE(r.error, QString());

    // Digits broken over lines, whatever the line ends, read like one line.
    QByteArray split;
    for (int i = 0; i < hex.size(); i += 64)
        split += hex.mid(i, 64).toLatin1() + (i % 128 ? "\n" : "\r\n");
    r = readCfgFile(writeFile(dir, "linhas.CFG", split + "\r"));
    QVERIFY(r.read && r.isBlock);
    QCOMPARE(r.hex, hex);

    // Not a block: read, said so, and what is there decodes as far as it goes.
    r = readCfgFile(writeFile(dir, "curto.CFG", hex.left(1598).toLatin1() + "\r\n"));
    QVERIFY(r.read && !r.isBlock);
    QVERIFY2(r.error.contains(QStringLiteral("1598 dígitos")) && r.error.contains("curto.CFG"),
             qPrintable(r.error));
    QCOMPARE(DecodeParameterBlock(r.hex).IMEI, QStringLiteral("123400"));
    r = readCfgFile(writeFile(dir, "longo.CFG", hex.toLatin1() + "00\r\n"));
    QVERIFY(r.read && !r.isBlock);
    QVERIFY(r.error.contains(QStringLiteral("1602 dígitos")));
    QByteArray garbled = hex.toLatin1();
    garbled[40] = 'x';
    r = readCfgFile(writeFile(dir, "letra.CFG", garbled));
    QVERIFY(r.read && !r.isBlock);
    QVERIFY2(r.error.contains(QStringLiteral("\"x\" (posição 41)")), qPrintable(r.error));
    garbled[40] = '\xC3'; // a byte that is no ASCII at all
    r = readCfgFile(writeFile(dir, "binario.CFG", garbled));
    QVERIFY(!r.isBlock && r.error.contains(QStringLiteral("posição 41")));

    // Files that cannot be one, or cannot be read or written.
    r = readCfgFile(writeFile(dir, "enorme.CFG", QByteArray(200 * 1024, '0')));
    QVERIFY(!r.read && r.hex.isEmpty() && r.error.contains(QStringLiteral("não é um arquivo")));
    r = readCfgFile(dir.filePath(QStringLiteral("nao-existe.CFG")));
    QVERIFY(!r.read && r.error.startsWith(QStringLiteral("Não foi possível abrir o arquivo")));
    {
        // A FIFO would hold the reader (on the thread that does reception) for good.
        const QString fifoPath = dir.filePath(QStringLiteral("fifo.CFG"));
        tulmo::test::Fifo fifo(fifoPath);
        QVERIFY(fifo.ok());
        r = readCfgFile(fifoPath);
        QVERIFY(!r.read);
        QCOMPARE(r.error,
                 QStringLiteral("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.")
                     .arg(fifoPath));
        QVERIFY(!fifo.releasedAReader());
    }
    const CfgWriteResult w = writeCfgFile(dir.filePath(QStringLiteral("sem/pasta.CFG")), hex);
    QVERIFY(!w.written && w.error.startsWith(QStringLiteral("Não foi possível gravar")));
}

void TestModuleParameterBlock::channelReadingAndPgmCommands() {
    // The editor's test reads the usual values through the form; here the edges.
    QByteArray frame("#$");
    frame.append(QByteArray(11, char(0))).append(char(255)).append(char(0x81)).append('X');
    const auto reading = ChannelReading::parse(frame);
    QVERIFY(reading);
    QCOMPARE(reading->raw[11], 255);
    QCOMPARE(formatDecimal(channelValue(0, -55, 100)), QStringLiteral("-5,5"));
    QCOMPARE(formatDecimal(channelValue(1, 0, 1)), QStringLiteral("0,0004"));
    QCOMPARE(formatDecimal(channelValue(125, -1, 1)), QStringLiteral("0")); // never "-0"
    QVERIFY(reading->pgmOn(8) && !reading->pgmOn(7) && !reading->pgmOn(0) && !reading->pgmOn(9));
    // Longer answers carry more than the console reads; shorter or other ones are not read.
    QVERIFY(ChannelReading::parse(frame + "resto"));
    QVERIFY(!ChannelReading::parse(frame.left(15)));
    QVERIFY(!ChannelReading::parse(QByteArray("#$")));
    QVERIFY(!ChannelReading::parse("$#" + frame.mid(2)));
    QCOMPARE(ModuleCommands::switchPgm(QStringLiteral("1234"), 8, false, 2, 65535 + 2),
             QByteArray("#$1234PGM0\x07"
                        "2\x00\x01",
                        14));
}

void TestModuleParameterBlock::decimalTextsOfTheEditor() {
    const struct {
        const char *text;
        bool ok;
        int tenths;
    } cases[] = {
        {"12,7", true, 127}, {"12.7", true, 127},  {"12", true, 120},  {" 0 ", true, 0},
        {",5", true, 5},     {"12,70", true, 127}, {"-0,5", true, -5}, {"25,5", true, 255},
        {"12,75", false, 0}, {"", false, 0},       {"  ", false, 0},   {"abc", false, 0},
        {"1,2,3", false, 0}, {",", false, 0},      {"1e3", false, 0},  {"9999999999", false, 0}};
    for (const auto &c : cases) {
        int v = -1;
        QVERIFY2(parseTenths(QString::fromUtf8(c.text), &v) == c.ok, c.text);
        if (c.ok) QCOMPARE(v, c.tenths);
    }
    int v = -1;
    QVERIFY(parseWhole(QStringLiteral(" 255 "), &v) && v == 255);
    QVERIFY(!parseWhole(QStringLiteral("2,5"), &v));
    QVERIFY(!parseWhole(QString(), &v));
    QVERIFY(!parseWhole(QStringLiteral("-"), &v));
    QCOMPARE(formatTenths(120), QStringLiteral("12"));
    QCOMPARE(formatTenths(127), QStringLiteral("12,7"));
    QCOMPARE(formatTenths(0), QStringLiteral("0"));
    QCOMPARE(formatTenths(-5), QStringLiteral("-0,5"));
}

QTEST_GUILESS_MAIN(TestModuleParameterBlock)
#include "test_moduleparameterblock.moc"
