#include "support/TestSupport.h"

#include "ui/modules/Form_QVN12.h"
#include "ui/modules/Form_QVN8.h"
#include "core/modules/ModuleParameterBlock.h"
#include "ui/modules/RadioGroup.h"
#include "core/reception/Data_Modulo2.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// A module's block with every kind of field set, bit 0x80 of Configuracoes included, and a
// UDP telephone longer than the operator may type (the module's own, kept whole).
ModuleParameterBlock moduleFields() {
    ModuleParameterBlock b;
    b.Numero_Equipamento = 2026;
    b.Equipamento = 2;
    b.Data = 4660;
    b.Velocidade_Com = 7;
    b.Spin_Keep_Alive = 5;
    b.Spin_Chamadas_Externas = 120;
    b.Modo_Reportagem = 1;
    b.IMEI = "123400";
    b.IP_Primario = "200.10.20.30";
    b.APN_Operadora = "zap.vivo.com.br";
    b.Senha_Acesso = "60418273";
    b.Senha_SMS = "1200";
    b.Telefone_UDP = "55113333444455";
    b.Conta_Interna = "0042";
    b.Tentativas_Conexao = 3;
    b.Tempo_Tentativas = 10;
    b.Tentativas_IMEI = 4;
    b.Tentativas_Evento = 5;
    for (int i = 0; i < kChannels; ++i) {
        b.Nivel_Baixo[i] = 100 + i;
        b.Nivel_Alto[i] = 200 + i;
        b.Tempo_Baixo[i] = i;
        b.Tempo_Alto[i] = 255 - i;
        b.SMS_Alto[i] = QStringLiteral("Alarme canal %1").arg(i + 1);
        b.SMS_Baixo[i] = QStringLiteral("Normal %1").arg(i + 1);
    }
    b.Configuracoes = 0x80 | 0x20 | 0x04 | 0x01;
    b.IP_Local = "10.0.0.7";
    return b;
}

struct Editor : Station {
    QWidget main;
    Form_QVN12 f{core->database(), &prompt, &main};
    QSignalSpy encoded{&f, &Form_QVN12::blockEncoded};
    QSignalSpy commands{&f, &Form_QVN12::commandRequested};

    template <typename W = QLineEdit> W *w(const QString &name) {
        W *found = f.findChild<W *>(name);
        if (!found) qFatal("no control %s", qPrintable(name));
        return found;
    }
    QString text(const QString &name) {
        if (auto *e = f.findChild<QLineEdit *>(name)) return e->text();
        return w<QLabel>(name)->text();
    }
    void click(const QString &name) { QTest::mouseClick(w<QWidget>(name), Qt::LeftButton); }
    void open(const QString &hex) {
        f.setBlockHex(hex);
        f.show();
    }
    QVariant row(const QString &column, const QString &imei = "123400") {
        return scalar(db(), QString("select %1 from GPRS where IMEI = :i").arg(column),
                      {{":i", imei}});
    }
    QByteArray lastBlock() { return encoded.last().at(0).toByteArray(); }
};

} // namespace

class TestFormQvn12 : public QObject {
    Q_OBJECT
private slots:
    void showsTheBlockAndHandsItBackUnchanged();
    void emptyTextShowsMinimumsAndEditsAreEncoded();
    void conversionErrorKeepsTheEditorOpen();
    void moduleRowIsLoadedSavedAndUnitsRenamed();
    void channelReadingsAndPgmCommands();
};

void TestFormQvn12::showsTheBlockAndHandsItBackUnchanged() {
    Editor e;
    GprsRow("123400").password("11112222").insertInto(e.db());
    exec(e.db(), "update GPRS set CANAL1_MINIMO = -55, CANAL1_MAXIMO = 127, "
                 "CANAL2_UNIDADE = 'Bar', TIPO_PGM3 = 2, TEMPO_PGM3 = 300");
    const QByteArray raw = EncodeParameterBlock(moduleFields());
    QCOMPARE(e.f.windowTitle(), QStringLiteral("QVN12"));
    e.f.setModelName("QVN-12 Universal");
    e.open(blockToHex(raw));

    QCOMPARE(e.f.windowTitle(), QStringLiteral("QVN-12 Universal - IMEI:123400"));
    QCOMPARE(e.text("Numero_Equipamento"), QStringLiteral("2026"));
    QCOMPARE(e.text("Equipamento"), QStringLiteral("2"));
    QCOMPARE(e.text("Data"), QStringLiteral("4660"));
    QCOMPARE(e.w<QSpinBox>("Spin_Chamadas_Externas")->value(), 120);
    QCOMPARE(e.w<RadioGroup>("Modo_Reportagem")->itemIndex(), 1);
    QCOMPARE(e.w<RadioGroup>("RadioGroup2")->itemIndex(), 1); // UDP
    QCOMPARE(e.w<RadioGroup>("RadioGroup3")->itemIndex(), 1); // IP Dinâmico-DNS
    QCOMPARE(e.w<RadioGroup>("SMS_Modo")->itemIndex(), 0);    // Numerico
    QVERIFY(e.w<QCheckBox>("CheckBox2")->isChecked());
    QVERIFY(!e.w<QCheckBox>("CheckBox1")->isChecked() && !e.w<QCheckBox>("CheckBox5")->isChecked());
    QCOMPARE(e.text("Nivel_Baixo1"), QStringLiteral("10"));
    QCOMPARE(e.text("Nivel_Alto12"), QStringLiteral("21,1"));
    QCOMPARE(e.text("Tempo_Alto12"), QStringLiteral("244"));
    QCOMPARE(e.text("Telefone_UDP"), QStringLiteral("55113333444455"));
    QCOMPARE(e.text("IP_Local"), QStringLiteral("10.0.0.7"));
    QCOMPARE(e.text("SMS_Baixo12"), QStringLiteral("Normal 12"));
    // The module's row, loaded by the identifier.
    QCOMPARE(e.text("Nivel_Minimo1"), QStringLiteral("-5,5"));
    QCOMPARE(e.text("Nivel_Maximo1"), QStringLiteral("12,7"));
    QCOMPARE(e.text("Nivel_Maximo2"), QStringLiteral("25,5"));
    QCOMPARE(e.text("Unidade_Canal1"), QStringLiteral("Volts"));
    QCOMPARE(e.text("Unidade_Canal2"), QStringLiteral("Bar"));
    QCOMPARE(e.w<RadioGroup>("RadioGroup_PGM3")->itemIndex(), 2);
    QCOMPARE(e.w<QSpinBox>("SpinPGM3")->value(), 300);
    QCOMPARE(e.w<QSpinBox>("SpinPGM1")->value(), 1);

    // Closed untouched, by "Fechar" or the window frame, the block goes back as it came.
    e.click("Botao_Fechar");
    QVERIFY(!e.f.isVisible());
    QCOMPARE(e.encoded.size(), 1);
    QCOMPARE(e.lastBlock(), raw);
    e.f.show();
    QVERIFY(e.f.close());
    QCOMPARE(e.encoded.size(), 2);
    QCOMPARE(e.lastBlock(), raw);
    QVERIFY(e.prompt.shown.isEmpty());
}

void TestFormQvn12::emptyTextShowsMinimumsAndEditsAreEncoded() {
    Editor e;
    e.open(QString());
    QCOMPARE(e.f.windowTitle(), QStringLiteral("QVN12")); // no module loaded
    QCOMPARE(e.text("Numero_Equipamento"), QStringLiteral("2007"));
    QCOMPARE(e.text("Equipamento"), QStringLiteral("0"));
    for (const char *spin : {"Spin_Keep_Alive", "Tentativas_Conexao", "Tempo_Tentativas",
                             "Tentativas_IMEI", "Tentativas_Evento"})
        QCOMPARE(e.w<QSpinBox>(spin)->value(), 1);
    QCOMPARE(e.w<QSpinBox>("Spin_Chamadas_Externas")->value(), 10);
    QCOMPARE(e.w<RadioGroup>("Modo_Reportagem")->item(0)->text(), QStringLiteral("Desativado"));
    QCOMPARE(e.w<RadioGroup>("Modo_Reportagem")->itemIndex(), 0);
    QCOMPARE(e.w<RadioGroup>("RadioGroup2")->item(0)->text(), QStringLiteral("TCP"));
    QCOMPARE(e.w<RadioGroup>("RadioGroup2")->itemIndex(), 0);
    QCOMPARE(e.w<RadioGroup>("RadioGroup3")->item(0)->text(), QStringLiteral("IP Fixo"));
    QCOMPARE(e.w<RadioGroup>("RadioGroup3")->itemIndex(), 0);
    QCOMPARE(e.text("IMEI"), QString());
    QCOMPARE(e.text("SMS_Alto1"), QString());
    QCOMPARE(e.text("Nivel_Alto5"), QStringLiteral("0"));
    for (int i = 1; i <= 5; ++i)
        QVERIFY(!e.w<QCheckBox>(QString("CheckBox%1").arg(i))->isChecked());
    QCOMPARE(e.w<QSpinBox>("SpinPGM8")->value(), 2); // the editor's own default

    // The operator's edits, as the module receives them. A module without a row: ranges 0,
    // units "Volts", "Direta", time 1.
    e.w("Nivel_Maximo12")->setText("7");
    e.w("IMEI")->setText(" 1234");
    QCOMPARE(e.text("Nivel_Maximo12"), QStringLiteral("0"));
    QCOMPARE(e.text("Unidade_Canal12"), QStringLiteral("Volts"));
    QCOMPARE(e.w<RadioGroup>("RadioGroup_PGM8")->itemIndex(), 0);
    QCOMPARE(e.w<QSpinBox>("SpinPGM8")->value(), 1);
    e.w("Conta_Interna")->setText("12");
    e.w("Senha_SMS")->setText("7");
    e.w("APN_Operadora")->setText(QString(30, 'a'));
    e.w("Nivel_Alto3")->setText("12,7");
    e.w("Tempo_Baixo3")->setText(" 30 ");
    e.w<RadioGroup>("RadioGroup2")->setItemIndex(1);
    e.w<QCheckBox>("CheckBox5")->setChecked(true);
    e.w<QSpinBox>("Spin_Keep_Alive")->setValue(255);
    e.w<RadioGroup>("Modo_Reportagem")->setItemIndex(2);
    e.click("Botao_Fechar");
    QVERIFY(!e.f.isVisible());
    const QByteArray raw = e.lastBlock();
    QCOMPARE(raw.size(), 800);
    QCOMPARE(raw.mid(0, 2), QByteArray("\0\0", 2));
    QCOMPARE(raw.mid(6, 4), QByteArray("\xFF\x00\x0A\x02", 4));
    QCOMPARE(raw.mid(10, 7), QByteArray("123400\r"));
    QCOMPARE(raw.mid(215, 4), QByteArray("7000"));
    QCOMPARE(raw.mid(247, 4), QByteArray("1200"));
    QCOMPARE(raw.mid(65, 30), QByteArray(30, 'a'));
    QCOMPARE(raw.mid(251, 4), QByteArray("\1\1\1\1"));
    QCOMPARE(raw.at(269), char(127));
    QCOMPARE(raw.at(281), char(30));
    QCOMPARE(raw.at(293), char(0)); // decoded 0, not the 1 an untouched new form shows
    QCOMPARE(raw.at(303), char(0x04 | 0x02));
    // The fields show what the module got.
    QCOMPARE(e.text("IMEI"), QStringLiteral("123400"));
    QCOMPARE(e.text("Conta_Interna"), QStringLiteral("1200"));
    QCOMPARE(e.f.windowTitle(), QStringLiteral(" - IMEI:123400"));

    Form_QVN8 other(e.core->database(), &e.prompt);
    QCOMPARE(other.windowTitle(), QStringLiteral("QVN8"));
    QCOMPARE(other.objectName(), QStringLiteral("Form_QVN8"));
}

void TestFormQvn12::conversionErrorKeepsTheEditorOpen() {
    Editor e;
    e.open(blockToHex(EncodeParameterBlock(moduleFields())));
    auto *pages = e.w<QTabWidget>("pages");
    pages->setCurrentIndex(0);
    const struct {
        const char *field, *value, *expected;
    } bad[] = {{"Nivel_Baixo2", "1,25", "Nivel Baixo do canal 2: \"1,25\" não é um número válido"},
               {"Nivel_Alto4", "", "Nivel Alto do canal 4: \"\" não é um número válido"},
               {"Nivel_Alto4", "26", "Nivel Alto do canal 4: 26 Volts está fora"},
               {"Tempo_Baixo7", "abc", "Tempo Baixo do canal 7: \"abc\" não é um número inteiro"},
               {"Tempo_Alto1", "256", "Tempo Alto do canal 1: 256 segundos está fora"}};
    for (const auto &b : bad) {
        const QString before = e.text(b.field);
        e.w(b.field)->setText(b.value);
        e.prompt.shown.clear();
        e.click("Botao_Fechar");
        QVERIFY2(e.f.isVisible(), b.field);
        QVERIFY(!e.f.close());
        QCOMPARE(e.encoded.size(), 0);
        QCOMPARE(e.prompt.shown.size(), 2);
        QVERIFY2(e.prompt.shown[0].text.startsWith(QString::fromUtf8(b.expected)),
                 qPrintable(e.prompt.shown[0].text));
        QCOMPARE(e.prompt.shown[0].caption, QStringLiteral("ERRO"));
        QCOMPARE(pages->currentIndex(), 1); // the page of the field
        e.w(b.field)->setText(before);
        pages->setCurrentIndex(0);
    }
    e.click("Botao_Fechar");
    QVERIFY(!e.f.isVisible());
    QCOMPARE(e.lastBlock(), EncodeParameterBlock(moduleFields()));
}

void TestFormQvn12::moduleRowIsLoadedSavedAndUnitsRenamed() {
    Editor e;
    GprsRow("123400").password("11112222").insertInto(e.db());
    GprsRow("777").insertInto(e.db());
    exec(e.db(), "update GPRS set CANAL5_MAXIMO = 50, CANAL5_UNIDADE = 'PSI' where IMEI = '777'");
    e.f.setModelName("QVN-8 Universal");
    e.open(blockToHex(EncodeParameterBlock(moduleFields())));

    // Renaming a unit asks through the prompt; Cancel keeps it, a long name is cut.
    e.prompt.textAnswers = {QStringLiteral("°C"), std::nullopt, QStringLiteral("Quilopascal!")};
    e.click("Unidade_Canal3");
    QCOMPARE(e.prompt.shown.last().caption, QStringLiteral("Digite o nome da Unidade"));
    QCOMPARE(e.prompt.shown.last().text, QStringLiteral("Máximo 10 Letras"));
    QCOMPARE(e.prompt.askedInitial.last(), QStringLiteral("Volts"));
    QCOMPARE(e.text("Unidade_Canal3"), QStringLiteral("°C"));
    e.click("Unidade_Canal3");
    QCOMPARE(e.text("Unidade_Canal3"), QStringLiteral("°C"));
    e.click("Unidade_Canal4");
    QCOMPARE(e.text("Unidade_Canal4"), QStringLiteral("Quilopasca"));
    QVERIFY(e.row("CANAL3_UNIDADE").toString().isEmpty()); // stored only by "Salvar"

    e.w("Nivel_Minimo1")->setText("-5,5");
    e.w("Nivel_Maximo1")->setText("100");
    e.w<RadioGroup>("RadioGroup_PGM2")->setItemIndex(1);
    e.w<QSpinBox>("SpinPGM2")->setValue(300);
    e.w("Senha_Acesso")->setText("4321");
    e.prompt.shown.clear();
    e.click("Botao_Salvar");
    QVERIFY2(e.prompt.shown.isEmpty(), qPrintable(e.prompt.shown.value(0).text));
    QCOMPARE(e.row("CANAL1_MINIMO").toInt(), -55);
    QCOMPARE(e.row("CANAL1_MAXIMO").toInt(), 1000);
    QCOMPARE(e.row("CANAL3_UNIDADE").toString().trimmed(), QStringLiteral("°C"));
    QCOMPARE(e.row("CANAL4_UNIDADE").toString().trimmed(), QStringLiteral("Quilopasca"));
    QCOMPARE(e.row("CANAL5_UNIDADE").toString().trimmed(), QStringLiteral("Volts"));
    QCOMPARE(e.row("TIPO_PGM2").toInt(), 1);
    QCOMPARE(e.row("TEMPO_PGM2").toInt(), 300);
    QCOMPARE(e.row("EQUIPAMENTO").toString(), QStringLiteral("2"));
    QCOMPARE(e.row("SENHA_ACESSO").toString(), QStringLiteral("4321"));

    // A range that is not a number: a message, nothing written.
    e.w("Nivel_Maximo2")->setText("1,25");
    e.click("Botao_Salvar");
    QVERIFY(e.prompt.shown.last().text.startsWith(
        QStringLiteral("Nível Máximo de Entrada do canal 2: \"1,25\" não é um número válido")));
    QCOMPARE(e.row("CANAL2_MAXIMO").toInt(), 255);
    e.w("Nivel_Maximo2")->setText("25,5");

    // Another identifier loads that module's row into the page and the caption.
    e.w("IMEI")->setText("777");
    QCOMPARE(e.f.windowTitle(), QStringLiteral("QVN-8 Universal - IMEI:777"));
    QCOMPARE(e.text("Nivel_Maximo5"), QStringLiteral("5"));
    QCOMPARE(e.text("Unidade_Canal5"), QStringLiteral("PSI"));
    QCOMPARE(e.text("Nivel_Minimo1"), QStringLiteral("0"));
    // One that has no row: blank page, and "Salvar" says nothing was written.
    e.w("IMEI")->setText("000000");
    QCOMPARE(e.text("Unidade_Canal5"), QStringLiteral("Volts"));
    QCOMPARE(e.text("Nivel_Maximo5"), QStringLiteral("0"));
    e.w("Nivel_Maximo5")->setText("9");
    e.prompt.shown.clear();
    e.click("Botao_Salvar");
    QCOMPARE(e.prompt.shown.size(), 1);
    QVERIFY(e.prompt.shown[0].text.contains(QStringLiteral("nada foi gravado")));
    QCOMPARE(scalar(e.db(), "select count(*) from GPRS").toInt(), 2);
    QCOMPARE(e.row("CANAL5_MAXIMO", "777").toInt(), 50);
}

void TestFormQvn12::channelReadingsAndPgmCommands() {
    Editor e;
    GprsRow("123400").password("11112222").insertInto(e.db());
    exec(e.db(), "update GPRS set CANAL4_MINIMO = -100, CANAL4_MAXIMO = 100, "
                 "CANAL4_UNIDADE = 'Graus'");
    e.open(blockToHex(EncodeParameterBlock(moduleFields())));
    QCOMPARE(e.text("Mostrador_Canal1"), QStringLiteral("12,7"));
    for (int k = 1; k <= 8; ++k)
        QCOMPARE(e.w<QPushButton>(QString("Botao_PGM%1").arg(k))->text(), QStringLiteral("OFF"));

    e.click("Botao_Ler_Canais");
    QCOMPARE(e.commands.last().at(0).toByteArray(), QByteArray("#$11112222D"));

    // The range as stored counts, not the page's unsaved fields.
    e.w("Nivel_Maximo1")->setText("1");
    QByteArray frame("#$");
    frame.append(char(250)).append(char(0)).append(char(127)).append(char(125));
    frame.append(QByteArray(8, char(10))).append(char(0x81)).append('\0');
    e.f.showChannelReading(frame);
    QCOMPARE(e.text("Mostrador_Canal1"), QStringLiteral("25,5"));
    QCOMPARE(e.text("Mostrador_Canal2"), QStringLiteral("0"));
    QCOMPARE(e.text("Mostrador_Canal3"), QStringLiteral("12,954"));
    QCOMPARE(e.text("Mostrador_Canal4"), QStringLiteral("0"));
    for (int k = 1; k <= 8; ++k) {
        auto *b = e.w<QPushButton>(QString("Botao_PGM%1").arg(k));
        const bool on = k == 1 || k == 8;
        QCOMPARE(b->text(), on ? QStringLiteral("ON") : QStringLiteral("OFF"));
        QCOMPARE(b->palette().color(QPalette::ButtonText),
                 on ? QColor(0, 128, 0) : QColor(255, 0, 0));
    }
    // An answer too short to be a reading changes nothing.
    e.f.showChannelReading(QByteArray("#$").append(QByteArray(13, char(0))));
    QCOMPARE(e.text("Mostrador_Canal1"), QStringLiteral("25,5"));
    QVERIFY(e.f.pgmOn(1));

    // PGM 3 "Pulso" 300 s while "OFF" is switched on; PGM 1, "ON", is switched off.
    e.w<RadioGroup>("RadioGroup_PGM3")->setItemIndex(1);
    e.w<QSpinBox>("SpinPGM3")->setValue(300);
    e.click("Botao_PGM3");
    QCOMPARE(e.commands.last().at(0).toByteArray(), QByteArray("#$60418273PGM1\x02"
                                                               "1\x01\x2C"));
    e.click("Botao_PGM1");
    QCOMPARE(e.commands.last().at(0).toByteArray(), QByteArray("#$60418273PGM0\x00"
                                                               "0\x00\x01",
                                                               18));
    QCOMPARE(e.commands.size(), 3);
    QVERIFY(e.prompt.shown.isEmpty());
}

QTEST_MAIN(TestFormQvn12)
#include "test_form_qvn12.moc"
