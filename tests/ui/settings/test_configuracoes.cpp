#include "support/TestSupport.h"

#include "core/common/FileChooser.h"
#include "core/common/Paths.h"
#include "core/common/TextCodec.h"
#include "ui/console/Principal.h"
#include "core/settings/ConfigIni.h"
#include "ui/settings/Configuracoes.h"
#include "core/settings/IniFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTreeWidget>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The settings dialog over a station of its own, shown without a modal loop.
struct Dialogo {
    Station s;
    ScriptedChooser chooser;
    std::unique_ptr<Form_Configuracoes> f;

    Dialogo() {
        f = std::make_unique<Form_Configuracoes>(s.core->common(), s.core->settings(), s.core->dm(), *s.core,
                                                 s.core->dc09().keys(), s.core->sound(), s.core->dataDir());
        f->setFileChooser(&chooser);
    }
    template <typename T> T *w(const char *nome) {
        T *c = f->findChild<T *>(QLatin1String(nome));
        if (!c) qFatal("no control %s", nome);
        return c;
    }
    QLineEdit *edit(const char *nome) { return w<QLineEdit>(nome); }
    QSpinBox *spin(const char *nome) { return w<QSpinBox>(nome); }
    QPushButton *botao(const char *nome) { return w<QPushButton>(nome); }
    QTreeWidget *tree() { return w<QTreeWidget>("TreeView1"); }
    QWidget *painel() { return w<QStackedWidget>("Paineis")->currentWidget(); }
    QWidget *grupo() { return w<QStackedWidget>("Grupos_Modo")->currentWidget(); }
    QTreeWidgetItem *receiver(int i) { return f->receiverRoot()->child(i); }
    void select(QTreeWidgetItem *item) { tree()->setCurrentItem(item); }
    void openDialog() {
        f->prepareOpen();
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.get()));
    }
    QString config() { return s.core->dataDir() + "/Config.ini"; }
    QString ini(const char *secao, const char *chave) {
        return IniFile(config()).readString(secao, chave, "(ausente)");
    }
    QVariantList numeros() {
        return column(s.db(), "select RECEIVER from RECEIVER order by RECEIVER");
    }
    QVariantList nomes() { return column(s.db(), "select NOME from RECEIVER order by RECEIVER"); }
};

} // namespace

class TestConfiguracoes : public QObject {
    Q_OBJECT
private slots:
    void freshDialogShowsItsDefaultsAndTheFile();
    void nodesBringTheirPanels();
    void includeAddsTenReceiversAndRefusesTheEleventh();
    void deleteRenumbersTheRest();
    void receiverRecordFillsTheControls();
    void sharedNameOpensItsOwnRecord();
    void applyReceiverRewritesTheRepeaterKeys();
    void applyOnTheRootWritesNoReceiver();
    void applyOverAVanishedRowSaysSo();
    void optionsAreLiveAndApplyWritesThem();
    void applyThatCannotWriteSaysSoAndKeepsTheEdits();
    void cancelRestoresTextsButNotThePassword();
    void rearmSoundChooserPreviews();
    void portMonitorShowsTrafficAndDoubleClickClears();
    void contextMenuNamesTheNode();
    void appliedTcpReceiverAcceptsAClient();
    void serialReceiverOnAMappedPortIsProbed();
    void tcpReceiverWithoutPortIsNotOpened();
    void ipReceiverEventOutputIsShownAndOffUntilChosen();
    void portOfAnotherReceiverIsRefusedByName();
    void silentReceiverLeavesAnotherShownReceiverMarked();
    void mainWindowOpensTheDialog();
    void outOfRangeValuesAreRefusedWhereTyped();
    void portMonitorStampsPausesFiltersAndCopies();
};

void TestConfiguracoes::freshDialogShowsItsDefaultsAndTheFile() {
    Dialogo d;
    QCOMPARE(d.f->windowTitle(), QString("Configurações"));
    QCOMPARE(d.f->receiverRoot()->text(0), QString("Receiver"));
    QCOMPARE(d.f->optionsRoot()->text(0), QString("Opções"));
    QCOMPARE(d.tree()->topLevelItemCount(), 2);
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    QCOMPARE(d.painel()->objectName(), QString("Painel_Receiver"));
    // What the fresh installation read into the live settings.
    QCOMPARE(d.edit("SomRearme")->text(), QString("C:\\Tulmo\\Sons\\P1Sound.wav"));
    for (const char *n : {"NomeDaEmpresa", "NomeDeEmail", "NomeUsuario", "Senha", "EnderecoEmail",
                          "CopiaCarbono", "Smtp", "Porta_Email"})
        QCOMPARE(d.edit(n)->text(), QString("Erro"));
    QCOMPARE(d.w<QPlainTextEdit>("Memo_CorpoEmail")->toPlainText(), QString("Erro"));
    QCOMPARE(d.edit("Senha")->echoMode(), QLineEdit::Password);
    QVERIFY(d.w<QCheckBox>("ChkCorreioPadrao")->isChecked());
    QCOMPARE(d.spin("SeTempoTentativas")->value(), 5);
    QCOMPARE(d.spin("SeTentativasRepetidora")->value(), 5);
    QVERIFY(d.w<QRadioButton>("Grupo_Opcoes_relogio0")->isChecked());
    QCOMPARE(d.w<QRadioButton>("Grupo_Opcoes_relogio1")->text(), QString("Buscar do receiver"));
    QCOMPARE(d.w<QGroupBox>("Grupo_Opcoes_relogio")->title(), QString(" Data dos eventos "));
    // The receiver record's design values.
    QCOMPARE(d.spin("Porta_TCP")->value(), 3030);
    QCOMPARE(d.spin("Porta_TCP")->maximum(), 65535);
    QCOMPARE(d.spin("PORTA_UDP")->value(), 3030);
    QCOMPARE(d.spin("Spin_Tempo_Resposta")->value(), 5);
    QCOMPARE(d.spin("Spin_Tempo_KeepAlive")->value(), 5);
    QCOMPARE(d.w<QComboBox>("Combo_Serial")->count(), 20);
    QCOMPARE(d.w<QComboBox>("Combo_Serial")->itemText(19), QString("COM20"));
    QCOMPARE(d.w<QComboBox>("Combo_Bauds")->itemText(9), QString("115200"));
    QCOMPARE(d.w<QComboBox>("Combo_Modo_Comunicacao")->itemText(1), QString("TCP/IP"));
    QCOMPARE(d.edit("Edit_Nome_Receiver")->maxLength(), 20);
    QVERIFY(!d.botao("Botao_Excluir_Receiver")->isEnabled());
    // Showing the dialog enables "Aplicar".
    d.openDialog();
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
}

void TestConfiguracoes::nodesBringTheirPanels() {
    Dialogo d;
    d.openDialog();
    d.select(d.f->optionsRoot());
    QCOMPARE(d.painel()->objectName(), QString("Painel_Opcoes"));
    d.select(d.f->receiverRoot());
    QCOMPARE(d.painel()->objectName(), QString("Painel_Receiver"));
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    QCOMPARE(d.painel()->objectName(), QString("Painel_Setar_Comunicacao"));
    QCOMPARE(d.grupo()->objectName(), QString("Grupo_Serial"));
    // The keyboard selects as a click does.
    d.tree()->setFocus();
    QTest::keyClick(d.tree(), Qt::Key_Down);
    QCOMPARE(d.tree()->currentItem(), d.f->optionsRoot());
    QCOMPARE(d.painel()->objectName(), QString("Painel_Opcoes"));
    // Opening again starts from the receiver panel.
    d.f->hide();
    d.openDialog();
    QCOMPARE(d.painel()->objectName(), QString("Painel_Receiver"));
    QCOMPARE(d.tree()->currentItem(), d.f->receiverRoot());
}

void TestConfiguracoes::includeAddsTenReceiversAndRefusesTheEleventh() {
    Dialogo d;
    d.openDialog();
    for (int i = 1; i <= 10; ++i)
        d.f->Botao_IncluirClick();
    QVERIFY(d.s.prompt.shown.isEmpty());
    QCOMPARE(d.f->receiverRoot()->childCount(), 10);
    QStringList esperados;
    QVariantList numeros;
    for (int i = 1; i <= 10; ++i) {
        esperados << QString("Receiver %1").arg(i);
        numeros << i;
        QCOMPARE(d.receiver(i - 1)->text(0), esperados.last());
    }
    QCOMPARE(d.numeros(), numeros);
    QVariantList nomes;
    for (const QString &n : esperados)
        nomes << n;
    QCOMPARE(d.nomes(), nomes);
    // Each new row: serial on COM1 at 9600, inactive, no SMS, ports 0.
    QCOMPARE(scalar(d.s.db(), "select count(*) from RECEIVER where MODO_COMUNICACAO = 0 and "
                              "ATIVO = 0 and ENVIA_SMS = 0 and PORTA_COM = 0 and BAUDS_COM = 3 "
                              "and PORTA_TCP = 0 and PORTA_UDP = 0")
                 .toInt(),
             10);
    QCOMPARE(d.edit("Edit_Nome_Receiver")->text(), QString("Receiver 10"));
    QVERIFY(!d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());

    d.f->Botao_IncluirClick();
    QCOMPARE(d.s.prompt.shown.size(), 1);
    QCOMPARE(d.s.prompt.shown[0].text, QString("Número de Receiver Excedido!"));
    QCOMPARE(d.f->receiverRoot()->childCount(), 10);
    QCOMPARE(d.numeros().size(), 10);

    // A new opening of the dialog finds the same ten in the table.
    Dialogo outro;
    ReceiverRow(1).name("A").insertInto(outro.s.db());
    ReceiverRow(2).name("B").insertInto(outro.s.db());
    outro.openDialog();
    QCOMPARE(outro.f->receiverRoot()->childCount(), 2);
    QCOMPARE(outro.receiver(1)->text(0), QString("B"));
}

void TestConfiguracoes::deleteRenumbersTheRest() {
    Dialogo d;
    d.openDialog();
    for (int i = 0; i < 3; ++i)
        d.f->Botao_IncluirClick();
    d.select(d.receiver(1));
    QCOMPARE(d.f->receiverNumber(), 2);
    QVERIFY(d.botao("Botao_Excluir_Receiver")->isEnabled());

    d.s.prompt.answers = {false};
    d.f->Botao_Excluir_ReceiverClick();
    QCOMPARE(d.s.prompt.shown.last().text, QString("Deseja realmente excluir o Receiver?"));
    QCOMPARE(d.s.prompt.shown.last().caption, QString("Excluir Receiver"));
    QCOMPARE(d.numeros(), QVariantList({1, 2, 3}));
    QCOMPARE(d.f->receiverRoot()->childCount(), 3);

    d.s.prompt.answers = {true};
    d.f->Botao_Excluir_ReceiverClick();
    QCOMPARE(d.numeros(), QVariantList({1, 2}));
    QCOMPARE(d.nomes(), QVariantList({"Receiver 1", "Receiver 3"}));
    QCOMPARE(d.f->receiverRoot()->childCount(), 2);
    QCOMPARE(d.receiver(1)->text(0), QString("Receiver 3"));
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    // The node now selected is shown as if just selected.
    QTreeWidgetItem *atual = d.tree()->currentItem();
    QCOMPARE(atual, d.receiver(1));
    QCOMPARE(d.painel()->objectName(), QString("Painel_Setar_Comunicacao"));
    QCOMPARE(d.f->receiverNumber(), 2);
    QCOMPARE(d.edit("Edit_Nome_Receiver")->text(), QString("Receiver 3"));
    QVERIFY(d.botao("Botao_Excluir_Receiver")->isEnabled());

    // Deleting the first renumbers from 1 again; a new one takes the next number.
    d.select(d.receiver(0));
    d.s.prompt.answers = {true};
    d.f->Botao_Excluir_ReceiverClick();
    QCOMPARE(d.numeros(), QVariantList({1}));
    QCOMPARE(d.nomes(), QVariantList({"Receiver 3"}));
    d.f->Botao_IncluirClick();
    QCOMPARE(d.numeros(), QVariantList({1, 2}));
    QCOMPARE(d.nomes(), QVariantList({"Receiver 3", "Receiver 2"}));
}

void TestConfiguracoes::receiverRecordFillsTheControls() {
    Dialogo d;
    // Both times of the serial receiver are null.
    const auto receptor = [&](int slot, const char *nome, int modo, int ativo, int sms,
                              int portaCom, int bauds, int tcp, int udp, const QVariant &resposta,
                              const QVariant &keepAlive) {
        ReceiverRow(slot)
            .name(nome)
            .mode(modo)
            .active(ativo)
            .sendsSms(sms)
            .comPort(portaCom, bauds)
            .tcpPort(tcp)
            .udpPort(udp)
            .replyDelay(resposta)
            .keepAlive(keepAlive)
            .insertInto(d.s.db());
    };
    receptor(1, "Serial", 0, 1, 1, 4, 9, 0, 0, QVariant(), QVariant());
    receptor(2, "GPRS", 1, 0, 0, 2, 3, 9001, 9002, 12, 30);
    receptor(3, "UDP", 2, 0, 0, 0, 3, 0, 7000, 5, 5);
    d.openDialog();
    QCOMPARE(d.f->receiverRoot()->childCount(), 3);
    // Icons by mode.
    for (int i = 0; i < 3; ++i)
        QCOMPARE(d.receiver(i)->icon(0).cacheKey(), d.f->modeIcon(i).cacheKey());
    QVERIFY(d.f->modeIcon(0).cacheKey() != d.f->modeIcon(1).cacheKey());

    d.select(d.receiver(0));
    QCOMPARE(d.w<QLabel>("Numero_Receiver")->text(), QString("1"));
    QCOMPARE(d.edit("Edit_Nome_Receiver")->text(), QString("Serial"));
    QVERIFY(d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    QVERIFY(d.w<QCheckBox>("CBEnviaSMS")->isChecked());
    QCOMPARE(d.w<QComboBox>("Combo_Serial")->currentText(), QString("COM5"));
    QCOMPARE(d.w<QComboBox>("Combo_Bauds")->currentText(), QString("115200"));
    // Time-outs the row left empty show the dialog's default, never 0.
    QCOMPARE(d.spin("Spin_Tempo_Resposta")->value(), 5);
    QCOMPARE(d.spin("Spin_Tempo_KeepAlive")->value(), 5);
    QCOMPARE(d.grupo()->objectName(), QString("Grupo_Serial"));
    QCOMPARE(d.w<QGroupBox>("Grupo_Serial")->title(), QString(" Configuração Serial "));
    // The repeater group lies inside the serial group.
    QCOMPARE(d.w<QGroupBox>("Grupo_Saida_Eventos")->parentWidget(), d.w<QWidget>("Grupo_Serial"));
    QVERIFY(d.botao("Botao_Excluir_Receiver")->isEnabled());

    d.select(d.receiver(1));
    QCOMPARE(d.f->receiverNumber(), 2);
    QCOMPARE(d.w<QComboBox>("Combo_Modo_Comunicacao")->currentIndex(), 1);
    QCOMPARE(d.grupo()->objectName(), QString("Grupo_TCP"));
    QCOMPARE(d.w<QGroupBox>("Grupo_TCP")->title(), QString(" Configuração TCP/IP "));
    QVERIFY(!d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    QCOMPARE(d.spin("Porta_TCP")->value(), 9001);
    QCOMPARE(d.spin("PORTA_UDP")->value(), 9002);
    QCOMPARE(d.spin("Spin_Tempo_Resposta")->value(), 12);
    QCOMPARE(d.spin("Spin_Tempo_KeepAlive")->value(), 30);

    d.select(d.receiver(2));
    QCOMPARE(d.grupo()->objectName(), QString("Grupo_UDP"));
    QCOMPARE(d.w<QGroupBox>("Grupo_UDP")->title(), QString(" Configuração UDP/IP "));

    // Changing the mode enables "Aplicar" and brings its group.
    d.f->Botao_AplicarClick();
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(1);
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    QCOMPARE(d.grupo()->objectName(), QString("Grupo_TCP"));
    // So do the record's other fields.
    const QList<std::function<void()>> edicoes = {
        [&] { d.edit("Edit_Nome_Receiver")->setText("Outro"); },
        [&] { d.w<QComboBox>("Combo_Serial")->setCurrentIndex(7); },
        [&] { d.w<QComboBox>("Combo_Bauds")->setCurrentIndex(1); },
        [&] { d.spin("Porta_TCP")->setValue(4000); },
        [&] { d.spin("PORTA_UDP")->setValue(4001); },
        [&] { d.w<QCheckBox>("Check_Receiver_Ativo")->toggle(); },
    };
    for (const auto &editar : edicoes) {
        d.botao("Botao_Aplicar")->setEnabled(false);
        editar();
        QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    }
}

void TestConfiguracoes::sharedNameOpensItsOwnRecord() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.f->Botao_IncluirClick();
    // Receiver 1 is renamed to the name the next one gets.
    d.select(d.receiver(0));
    d.edit("Edit_Nome_Receiver")->setText("Receiver 2");
    d.spin("Porta_TCP")->setValue(5001);
    d.f->Botao_AplicarClick();
    QCOMPARE(d.nomes(), QVariantList({"Receiver 2", "Receiver 2"}));
    d.select(d.receiver(1));
    QCOMPARE(d.f->receiverNumber(), 2);
    QCOMPARE(d.spin("Porta_TCP")->value(), 0);
    d.spin("Porta_TCP")->setValue(5002);
    d.f->Botao_AplicarClick();
    QCOMPARE(column(d.s.db(), "select PORTA_TCP from RECEIVER order by RECEIVER"),
             QVariantList({5001, 5002}));
}

void TestConfiguracoes::applyReceiverRewritesTheRepeaterKeys() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(1));
    d.edit("Edit_Nome_Receiver")->setText("Central IP");
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(2);
    d.w<QCheckBox>("CBEnviaSMS")->setChecked(true);
    d.w<QComboBox>("Combo_Serial")->setCurrentIndex(5);
    d.w<QComboBox>("Combo_Bauds")->setCurrentIndex(8);
    d.spin("PORTA_UDP")->setValue(6000);
    d.spin("Porta_TCP")->setValue(6001);
    d.spin("Spin_Tempo_Resposta")->setValue(9);
    d.spin("Spin_Tempo_KeepAlive")->setValue(11);
    d.spin("SeTempoTentativas")->setValue(8);
    d.spin("SeTentativasRepetidora")->setValue(3);
    // The repeater already runs with the edited numbers.
    QCOMPARE(d.s.core->repeater().intervalSeconds(), 8);
    QCOMPARE(d.s.core->repeater().attempts(), 3);
    QVERIFY(!QFile::exists(d.config()));

    d.f->Botao_AplicarClick();
    QVERIFY(d.s.prompt.shown.isEmpty());
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    QCOMPARE(d.receiver(1)->text(0), QString("Central IP"));
    QCOMPARE(d.receiver(1)->icon(0).cacheKey(), d.f->modeIcon(2).cacheKey());
    // A UDP/IP receiver has no event output, whatever the serial group shows.
    const QVariantList row = {2, "Central IP", 2, 0, 1, -1, 8, 6001, 6000, 9, 11};
    QCOMPARE(column(d.s.db(), "select RECEIVER from RECEIVER where NOME = 'Central IP'"),
             QVariantList({2}));
    for (int c = 0; c < 11; ++c) {
        static const char *columns[] = {"RECEIVER",       "NOME",           "MODO_COMUNICACAO",
                                        "ATIVO",          "ENVIA_SMS",      "PORTA_COM",
                                        "BAUDS_COM",      "PORTA_TCP",      "PORTA_UDP",
                                        "TEMPO_RESPOSTA", "TEMPO_KEEPALIVE"};
        QCOMPARE(
            scalar(d.s.db(), QString("select %1 from RECEIVER where RECEIVER = 2").arg(columns[c]))
                .toString(),
            row[c].toString());
    }
    QCOMPARE(d.ini("Repetidora", "TempoTentativas"), QString("8"));
    QCOMPARE(d.ini("Repetidora", "TentativasRepetidora"), QString("3"));
    // Options are written only from their own node.
    QCOMPARE(d.ini("Empresa", "NomeEmpresa"), QString("(ausente)"));
    QCOMPARE(d.ini("Sons", "SomRearme"), QString("(ausente)"));
}

void TestConfiguracoes::applyOnTheRootWritesNoReceiver() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    d.edit("Edit_Nome_Receiver")->setText("Nao gravado");
    d.spin("SeTentativasRepetidora")->setValue(4);
    d.select(d.f->receiverRoot());
    d.f->Botao_AplicarClick();
    QCOMPARE(d.nomes(), QVariantList({"Receiver 1"}));
    QCOMPARE(d.receiver(0)->text(0), QString("Receiver 1"));
    QCOMPARE(d.ini("Repetidora", "TentativasRepetidora"), QString("4"));
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    QVERIFY(d.s.prompt.shown.isEmpty());
}

void TestConfiguracoes::applyOverAVanishedRowSaysSo() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    exec(d.s.db(), "delete from RECEIVER");
    d.edit("Edit_Nome_Receiver")->setText("Fantasma");
    d.f->Botao_AplicarClick();
    QCOMPARE(d.s.prompt.shown.size(), 1);
    QCOMPARE(d.s.prompt.shown[0].text, QString("Houve um erro ao gravar o Receiver!"));
    QCOMPARE(d.s.prompt.shown[0].caption, QString("ERRO"));
    QCOMPARE(d.receiver(0)->text(0), QString("Receiver 1"));
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    QVERIFY(d.numeros().isEmpty());
    // The repeater pair is written all the same.
    QCOMPARE(d.ini("Repetidora", "TempoTentativas"), QString("5"));
}

void TestConfiguracoes::optionsAreLiveAndApplyWritesThem() {
    Dialogo d;
    d.openDialog();
    d.select(d.f->optionsRoot());
    LiveSettings &live = d.s.core->settings();
    d.botao("Botao_Aplicar")->setEnabled(false);
    QTest::keyClicks(d.edit("NomeDaEmpresa"), "X");
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    d.edit("NomeDaEmpresa")->setText("Vigilância Norte");
    d.edit("NomeDeEmail")->setText("Central Norte");
    d.edit("NomeUsuario")->setText("norte");
    d.edit("Senha")->setText("s3gr3d0");
    d.edit("EnderecoEmail")->setText("norte@vigilancia.com.br");
    d.edit("CopiaCarbono")->setText("cc@vigilancia.com.br");
    d.edit("Smtp")->setText("smtp.vigilancia.com.br");
    d.edit("Porta_Email")->setText("587");
    d.w<QPlainTextEdit>("Memo_CorpoEmail")->setPlainText("Bom dia,\nsegue o relatório.");
    d.w<QCheckBox>("ChkCorreioPadrao")->setChecked(false);
    d.edit("SomRearme")->setText("C:\\Tulmo\\Sons\\P8Sound.wav");
    d.w<QRadioButton>("Grupo_Opcoes_relogio1")->click();
    // Before any "Aplicar", the console already reads the controls.
    QCOMPARE(live.companyName(), QString("Vigilância Norte"));
    QCOMPARE(live.senha(), QString("s3gr3d0"));
    QCOMPARE(live.mailPort(), QString("587"));
    QCOMPARE(live.mailBody(), QString("Bom dia,\nsegue o relatório."));
    QVERIFY(!live.defaultMailClient());
    QCOMPARE(live.rearmSound(), QString("C:\\Tulmo\\Sons\\P8Sound.wav"));
    QCOMPARE(live.eventTimeSource(), LiveSettings::EventTimeSource::FromReceiver);
    QVERIFY(!QFile::exists(d.config()));
    // The decoder takes the receiver's date now.
    const QString quadro = "1011      1234 1213014:02:11 05/03/09";
    QCOMPARE(d.s.core->decoder().Decodifica_Eventos(quadro),
             QString("Rc01 Ln1 Ct1234 Pt2 Ce1130 Su0 Dt05/03/09 Tm14:02:11"));
    d.w<QRadioButton>("Grupo_Opcoes_relogio0")->click();
    QCOMPARE(d.s.core->decoder().Decodifica_Eventos(quadro),
             QString("Rc01 Ln1 Ct1234 Pt2 Ce1130 Su0 Dt08/03/26 Tm22:15:00"));
    d.w<QRadioButton>("Grupo_Opcoes_relogio1")->click();

    d.f->Botao_AplicarClick();
    QVERIFY(d.s.prompt.shown.isEmpty());
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    QFile f(d.config());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = decodeWindowsText(f.readAll());
    QCOMPARE(text, QString("[Sons]\r\nSomRearme=C:\\Tulmo\\Sons\\P8Sound.wav\r\n[Empresa]\r\n"
                            "CorreioPadrao=0\r\nNomeEmpresa=Vigilância Norte\r\n"
                            "NomeEmail=Central Norte\r\nEnderecoEmail=norte@vigilancia.com.br\r\n"
                            "CopiaCarbono=cc@vigilancia.com.br\r\nSMTP=smtp.vigilancia.com.br\r\n"
                            "Usuario=norte\r\nSenha=s3gr3d0\r\nPorta=587\r\n"
                            "CorpoEmail=Bom dia,\\nsegue o relatório.\r\n[Repetidora]\r\n"
                            "TempoTentativas=5\r\nTentativasRepetidora=5\r\n"));
    // The next start reads the same values; the event date option starts over.
    LiveSettings depois;
    const ConfigIni config(d.config());
    config.readSoundAndCompany(depois);
    QCOMPARE(depois.mailBody(), QString("Bom dia,\nsegue o relatório."));
    QCOMPARE(depois.companyName(), QString("Vigilância Norte"));
    QCOMPARE(depois.eventTimeSource(), LiveSettings::EventTimeSource::FromComputer);
}

void TestConfiguracoes::applyThatCannotWriteSaysSoAndKeepsTheEdits() {
    Dialogo d;
    // Something that cannot be replaced by a file stands where Config.ini goes.
    QVERIFY(QDir().mkpath(d.config() + "/ocupado"));
    d.openDialog();
    d.select(d.f->optionsRoot());
    d.edit("NomeDaEmpresa")->setText("Central Sul");
    d.f->Botao_AplicarClick();
    QCOMPARE(d.s.prompt.shown.size(), 1);
    QVERIFY(d.s.prompt.shown[0].text.startsWith("Houve um erro ao gravar as configurações"));
    QCOMPARE(d.s.prompt.shown[0].caption, QString("ERRO"));
    QCOMPARE(d.edit("NomeDaEmpresa")->text(), QString("Central Sul"));
    QCOMPARE(d.s.core->settings().companyName(), QString("Central Sul"));
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
}

void TestConfiguracoes::cancelRestoresTextsButNotThePassword() {
    Dialogo d;
    d.openDialog();
    d.select(d.f->optionsRoot());
    d.edit("NomeDaEmpresa")->setText("Central");
    d.edit("EnderecoEmail")->setText("a@b.com");
    d.edit("Senha")->setText("primeira");
    d.w<QPlainTextEdit>("Memo_CorpoEmail")->setPlainText("um\ndois");
    d.f->Botao_AplicarClick();

    const QList<QPair<const char *, QString>> editados = {
        {"NomeDaEmpresa", "Central"}, {"NomeDeEmail", "Erro"},  {"NomeUsuario", "Erro"},
        {"EnderecoEmail", "a@b.com"}, {"CopiaCarbono", "Erro"}, {"Smtp", "Erro"},
        {"Porta_Email", "Erro"},
    };
    for (const auto &[nome, value] : editados)
        d.edit(nome)->setText(QString("mudado ") + nome);
    d.w<QPlainTextEdit>("Memo_CorpoEmail")->setPlainText("mudado");
    d.edit("Senha")->setText("segunda");
    d.edit("SomRearme")->setText("/sons/outro.wav");
    d.w<QCheckBox>("ChkCorreioPadrao")->setChecked(false);

    // Elsewhere in the tree it does nothing.
    d.select(d.f->receiverRoot());
    d.f->Botao_CancelarClick();
    QCOMPARE(d.edit("NomeDaEmpresa")->text(), QString("mudado NomeDaEmpresa"));

    d.select(d.f->optionsRoot());
    d.f->Botao_CancelarClick();
    QVERIFY(d.f->isVisible());
    for (const auto &[nome, value] : editados)
        QCOMPARE(d.edit(nome)->text(), value);
    QCOMPARE(d.w<QPlainTextEdit>("Memo_CorpoEmail")->toPlainText(), QString("um\ndois"));
    QCOMPARE(d.edit("Senha")->text(), QString("segunda"));
    QCOMPARE(d.edit("SomRearme")->text(), QString("/sons/outro.wav"));
    QVERIFY(!d.w<QCheckBox>("ChkCorreioPadrao")->isChecked());
    // And the console reads what the controls show.
    QCOMPARE(d.s.core->settings().companyName(), QString("Central"));
    QCOMPARE(d.s.core->settings().senha(), QString("segunda"));
}

void TestConfiguracoes::rearmSoundChooserPreviews() {
    Dialogo d;
    Paths::setProgramDir(d.s.dir.path());
    d.openDialog();
    d.select(d.f->optionsRoot());
    d.chooser.answer = QString();
    d.f->Botao_SomRearmeClick();
    QCOMPARE(d.chooser.asked.size(), 1);
    QCOMPARE(d.chooser.asked[0],
             QString("Som Rearme|%1/Sons|Arquivos de som(*.wav)").arg(d.s.dir.path()));
    QCOMPARE(d.edit("SomRearme")->text(), QString("C:\\Tulmo\\Sons\\P1Sound.wav"));
    QVERIFY(d.s.sound.calls.isEmpty());

    const QString escolhido = d.s.dir.path() + "/Sons/Sirene.wav";
    d.chooser.answer = escolhido;
    QTest::mouseClick(d.botao("Botao_SomRearme"), Qt::LeftButton);
    QCOMPARE(d.edit("SomRearme")->text(), escolhido);
    QCOMPARE(d.s.core->settings().rearmSound(), escolhido);
    QCOMPARE(d.s.sound.calls, QStringList({"once:" + escolhido}));
    Paths::setProgramDir(QString());
}

void TestConfiguracoes::portMonitorShowsTrafficAndDoubleClickClears() {
    Dialogo d;
    d.s.core->dm().portMonitor().append("Porta 1:antes");
    // created after the first line
    Form_Configuracoes segundo(d.s.core->common(), d.s.core->settings(), d.s.core->dm(), *d.s.core,
                               d.s.core->dc09().keys(), d.s.core->sound(), d.s.core->dataDir());
    auto *visor = segundo.findChild<QPlainTextEdit *>("Porta_Visor");
    QVERIFY(visor);
    QVERIFY(visor->isReadOnly());
    QCOMPARE(visor->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(visor->toPlainText(), QString("08/03/2026 22:15:00  Porta 1:antes"));
    d.s.core->dm().portMonitor().append("Receptora Porta 1 não encontrada!");
    QCOMPARE(visor->toPlainText(),
             QString("08/03/2026 22:15:00  Porta 1:antes\n"
                     "08/03/2026 22:15:00  Receptora Porta 1 não encontrada!"));
    segundo.prepareOpen();
    segundo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&segundo));
    segundo.Botao_IncluirClick();
    segundo.findChild<QTreeWidget *>("TreeView1")->setCurrentItem(segundo.receiverRoot()->child(0));
    QVERIFY(visor->isVisible());
    QTest::mouseDClick(visor->viewport(), Qt::LeftButton);
    QCOMPARE(visor->toPlainText(), QString());
    QVERIFY(d.s.core->dm().portMonitor().lines().isEmpty());
    // Both dialogs over the same monitor follow it.
    QCOMPARE(d.w<QPlainTextEdit>("Porta_Visor")->toPlainText(), QString());
    // And keep no more lines than it does.
    LineLog &monitor = d.s.core->dm().portMonitor();
    for (int i = 0; i < monitor.maxLines() + 10; ++i)
        monitor.append("TCP 7,1:@");
    QCOMPARE(visor->document()->blockCount(), monitor.maxLines());
}

void TestConfiguracoes::contextMenuNamesTheNode() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.f->Botao_IncluirClick();
    QTreeWidget *t = d.tree();
    QAction *item = d.f->menuTree()->actions().value(0);
    QVERIFY(item);
    d.select(d.receiver(0));
    QCOMPARE(item->text(), QString("Item do TreeView: Receiver 1"));
    // A right click selects the node under it and opens the menu.
    const QPoint ponto = t->visualItemRect(d.receiver(1)).center();
    emit t->customContextMenuRequested(ponto);
    QCOMPARE(t->currentItem(), d.receiver(1));
    QCOMPARE(item->text(), QString("Item do TreeView: Receiver 2"));
    QCOMPARE(d.f->receiverNumber(), 2);
    QVERIFY(d.f->menuTree()->isVisible());
    d.f->menuTree()->hide();
    // Empty space shows no menu.
    emit t->customContextMenuRequested(QPoint(5, t->viewport()->height() - 3));
    QVERIFY(!d.f->menuTree()->isVisible());
    QCOMPARE(t->currentItem(), d.receiver(1));
}

void TestConfiguracoes::appliedTcpReceiverAcceptsAClient() {
    Dialogo d;
    d.openDialog();
    const quint16 port = freePort();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(1);
    d.spin("Porta_TCP")->setValue(port);
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    QSignalSpy iniciado(&d.s.core->dm(), &DM1::listenerStarted);
    d.f->Botao_AplicarClick();
    QCOMPARE(iniciado.size(), 1);
    QTcpServer *server = d.s.core->dm().slot(1).socketServer;
    QVERIFY(server->isListening());
    QCOMPARE(server->serverPort(), port);
    QTcpSocket cliente;
    cliente.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(cliente.waitForConnected(3000));
    QTRY_COMPARE_WITH_TIMEOUT(d.s.core->connectionRegistry().rowCount(), 1, 3000);
    QCOMPARE(scalar(d.s.db(), "select ATIVO from RECEIVER where RECEIVER = 1").toInt(), 1);
}

void TestConfiguracoes::tcpReceiverWithoutPortIsNotOpened() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(1);
    d.spin("Porta_TCP")->setValue(0);
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    d.f->Botao_AplicarClick();
    QVERIFY(!d.s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(!d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    QCOMPARE(d.w<QPlainTextEdit>("Porta_Visor")->toPlainText(),
             QString("08/03/2026 22:15:00  Receiver 1: porta TCP 0 inválida"));
    // And a message says which receiver did not open, and why.
    QCOMPARE(d.s.prompt.shown.size(), 1);
    QCOMPARE(
        d.s.prompt.shown[0].text,
        QString("O Receiver \"Receiver 1\" (número 1) não foi ativado: porta TCP 0 inválida."));
    QCOMPARE(d.s.prompt.shown[0].caption, QString("Receiver não ativado"));

    // A port another program holds: the same, with that reason.
    QTcpServer outro;
    QVERIFY(outro.listen(QHostAddress::Any, 0));
    d.edit("Edit_Nome_Receiver")->setText("Central GPRS");
    d.spin("Porta_TCP")->setValue(outro.serverPort());
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    d.f->Botao_AplicarClick();
    QCOMPARE(d.s.prompt.shown.size(), 2);
    QCOMPARE(d.s.prompt.shown[1].text,
             QString("O Receiver \"Central GPRS\" (número 1) não foi ativado: porta TCP %1 em uso.")
                 .arg(outro.serverPort()));
    QCOMPARE(scalar(d.s.db(), "select ATIVO from RECEIVER where RECEIVER = 1").toInt(), 0);
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled()); // mended and applied again
}

// A new receiver turned TCP/IP repeats nothing until its output is chosen in its own group;
// it never opens COM1 because that is where a serial receiver's record starts.
void TestConfiguracoes::ipReceiverEventOutputIsShownAndOffUntilChosen() {
    Dialogo d;
    Pty com1;
    QVERIFY(com1.ok());
    mapPort(d.s.core->dataDir(), 1, com1.slavePath());
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    auto *saida = d.w<QComboBox>("Combo_Saida_Eventos");
    QCOMPARE(saida->parentWidget(), d.w<QWidget>("Grupo_TCP"));
    QCOMPARE(saida->count(), 21);
    QCOMPARE(saida->itemText(0), QString("Desligada"));
    QCOMPARE(saida->itemText(20), QString("COM20"));
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(1);
    QVERIFY(saida->isVisible());
    QCOMPARE(saida->currentText(), QString("Desligada"));
    const quint16 port = freePort();
    d.spin("Porta_TCP")->setValue(port);
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    d.f->Botao_AplicarClick();
    const QString stored = "select PORTA_COM || ',' || BAUDS_COM from RECEIVER where RECEIVER = 1";
    QCOMPARE(scalar(d.s.db(), stored).toString(), QString("-1,3"));
    QVERIFY(d.s.core->dm().slot(1).socketServer->isListening());
    QVERIFY(!d.s.core->dm().comPort(1)->isOpen());
    QCOMPARE(com1.readAll(300), QByteArray());

    // COM1 at 19200 chosen beside it: one speed for both groups.
    saida->setCurrentIndex(1);
    d.w<QComboBox>("Combo_Bauds_Saida")->setCurrentIndex(5);
    QCOMPARE(d.w<QComboBox>("Combo_Bauds")->currentIndex(), 5);
    d.f->Botao_AplicarClick();
    QCOMPARE(scalar(d.s.db(), stored).toString(), QString("0,5"));
    QCOMPARE(com1.readAll(1000, 2), QByteArray("SP"));
    d.select(d.f->receiverRoot());
    d.select(d.receiver(0));
    QCOMPARE(saida->currentText(), QString("COM1"));
    QCOMPARE(d.w<QComboBox>("Combo_Bauds_Saida")->currentText(), QString("19200"));
    // A UDP/IP receiver repeats nothing, and says so in its group.
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(2);
    QVERIFY(d.w<QLabel>("Saida_Eventos_UDP")->isVisible());
    QCOMPARE(d.w<QLabel>("Saida_Eventos_UDP")->text(), QString("Desligada"));
    d.f->Botao_AplicarClick();
    QCOMPARE(scalar(d.s.db(), stored).toString(), QString("-1,5"));
}

// A port that another active receiver uses is refused before anything is written, with both
// receivers named; the edits stay for the operator to mend.
void TestConfiguracoes::portOfAnotherReceiverIsRefusedByName() {
    Dialogo d;
    Pty com1;
    QVERIFY(com1.ok());
    mapPort(d.s.core->dataDir(), 1, com1.slavePath());
    mapPort(d.s.core->dataDir(), 5, com1.slavePath()); // another name of the same device
    const quint16 port = freePort();
    ReceiverRow(1).name("Receptora").mode(0).active(1).comPort(0).insertInto(d.s.db());
    ReceiverRow::tcp(2, port, 5, 5).name("GPRS").comPort(-1).insertInto(d.s.db());
    ReceiverRow::tcp(3, freePort(), 5, 5)
        .name("Reserva")
        .active(0)
        .comPort(-1)
        .insertInto(d.s.db());
    d.openDialog();
    auto refused = [&](const QString &text) {
        d.f->Botao_AplicarClick();
        if (d.s.prompt.shown.isEmpty()) return false;
        const ScriptedPrompt::Shown m = d.s.prompt.shown.takeLast();
        if (m.text != text) qWarning("%s", qPrintable(m.text));
        return m.text == text && m.caption == "Configurações" &&
               d.botao("Botao_Aplicar")->isEnabled();
    };
    const QString stored = "select PORTA_COM || ',' || PORTA_TCP || ',' || ATIVO from RECEIVER "
                           "where RECEIVER = :n";
    d.select(d.receiver(1));
    d.w<QComboBox>("Combo_Saida_Eventos")->setCurrentIndex(1);
    QVERIFY(refused("A porta COM1 já é usada pelo Receiver \"Receptora\" (entrada serial).\n\n"
                    "O Receiver \"GPRS\" (saída de eventos) não foi gravado: escolha outra porta "
                    "para ele."));
    d.w<QComboBox>("Combo_Saida_Eventos")->setCurrentIndex(5);
    QVERIFY(refused("A porta COM5 já é usada pelo Receiver \"Receptora\" (entrada serial).\n\n"
                    "O Receiver \"GPRS\" (saída de eventos) não foi gravado: escolha outra porta "
                    "para ele."));
    QCOMPARE(d.w<QComboBox>("Combo_Saida_Eventos")->currentText(), QString("COM5"));
    QCOMPARE(scalar(d.s.db(), stored, {{":n", 2}}).toString(), QString("-1,%1,1").arg(port));

    // The third receiver made active on the second one's TCP port.
    d.select(d.receiver(2));
    d.spin("Porta_TCP")->setValue(port);
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    QVERIFY(refused(QString("A porta TCP %1 já é usada pelo Receiver \"GPRS\".\n\nO Receiver "
                            "\"Reserva\" não foi gravado: escolha outra porta para ele.")
                        .arg(port)));
    QCOMPARE(scalar(d.s.db(), stored, {{":n", 3}}).toString().section(',', 2), QString("0"));
    // Inactive, it claims no port, and is written.
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(false);
    d.f->Botao_AplicarClick();
    QVERIFY(d.s.prompt.shown.isEmpty());
    QCOMPARE(scalar(d.s.db(), stored, {{":n", 3}}).toString(), QString("-1,%1,0").arg(port));
    // The alarm receiver kept its line throughout.
    QVERIFY(d.s.core->dm().comPort(1)->isOpen());
    QCOMPARE(scalar(d.s.db(), "select ATIVO from RECEIVER where RECEIVER = 1").toInt(), 1);
}

void TestConfiguracoes::serialReceiverOnAMappedPortIsProbed() {
    Dialogo d;
    Pty receptora;
    QVERIFY(receptora.ok());
    mapPort(d.s.core->dataDir(), 3, receptora.slavePath());
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    d.w<QComboBox>("Combo_Serial")->setCurrentIndex(2); // COM3
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    d.f->Botao_AplicarClick();
    QVERIFY(d.s.core->dm().comPort(1)->isOpen());
    // The identification request on opening, and again once configured.
    QCOMPARE(receptora.readAll(1000, 4), QByteArray("SPSP"));
    // Nobody answers: TimerSM1 ends the wait, the port closes, the mark clears and "Aplicar"
    // comes back.
    QVERIFY(d.s.core->dm().slot(1).timerSM->isActive());
    d.s.core->dm().TimerSMTimer(1);
    QVERIFY(!d.s.core->dm().comPort(1)->isOpen());
    QVERIFY(!d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    QCOMPARE(d.w<QPlainTextEdit>("Porta_Visor")->toPlainText(),
             QString("08/03/2026 22:15:00  Receptora Porta 1 não encontrada!"));
    // The row keeps its mark; only the dialog's control is cleared.
    QCOMPARE(scalar(d.s.db(), "select ATIVO from RECEIVER where RECEIVER = 1").toInt(), 1);

    // A receiver that answers is found.
    d.w<QCheckBox>("Check_Receiver_Ativo")->setChecked(true);
    d.f->Botao_AplicarClick();
    QCOMPARE(receptora.readAll(1000, 4), QByteArray("SPSP"));
    QVERIFY(receptora.write("RZ5 0001"));
    QTRY_VERIFY_WITH_TIMEOUT(
        d.w<QPlainTextEdit>("Porta_Visor")->toPlainText().endsWith("Receptora Porta 1 Encontrada!"),
        3000);
    // Found in time: the identification time-out is off, so the port stays open.
    QVERIFY(!d.s.core->dm().slot(1).timerSM->isActive());
    QVERIFY(d.s.core->dm().comPort(1)->isOpen());
    QVERIFY(d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
}

void TestConfiguracoes::silentReceiverLeavesAnotherShownReceiverMarked() {
    Dialogo d;
    Pty receptora;
    QVERIFY(receptora.ok());
    mapPort(d.s.core->dataDir(), 1, receptora.slavePath());
    ReceiverRow(1).name("Serial").mode(0).active(1).comPort(0, 3).insertInto(d.s.db());
    // A UDP/IP receiver listens (DC-09), so it needs a port of its own.
    ReceiverRow(2).name("Outro").mode(2).active(1).comPort(1, 3).udpPort(freePort()).insertInto(d.s.db());
    d.openDialog();
    d.select(d.receiver(1));
    QVERIFY(d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    d.f->Botao_AplicarClick();
    QVERIFY(!d.botao("Botao_Aplicar")->isEnabled());
    QCOMPARE(receptora.readAll(1000, 4), QByteArray("SPSP"));
    QVERIFY(d.s.core->dm().slot(1).timerSM->isActive());
    d.s.core->dm().TimerSMTimer(1);
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    QVERIFY(!d.s.core->dm().comPort(1)->isOpen());
    // The receiver on screen is not the one that was not found: its mark stays.
    QVERIFY(d.w<QCheckBox>("Check_Receiver_Ativo")->isChecked());
    d.f->Botao_AplicarClick();
    QCOMPARE(column(d.s.db(), "select ATIVO from RECEIVER order by RECEIVER"),
             QVariantList({1, 1}));
}

void TestConfiguracoes::mainWindowOpensTheDialog() {
    Station s;
    ReceiverRow(1).name("Principal").mode(2).active(0).insertInto(s.db());
    Form_Principal mainWindow(s.core->services(), nullptr);
    Form_Configuracoes &f = mainWindow.settingsDialog();
    QCOMPARE(f.parentWidget(), &mainWindow);
    QVERIFY(f.receiverRoot()->childCount() == 0);
    bool visto = false;
    auto closeSocket = [&] {
        visto = f.isVisible() && f.isModal();
        f.Botao_FecharClick();
    };
    QTimer::singleShot(0, &f, closeSocket);
    mainWindow.findChild<QAction *>("Configuracoes")->trigger();
    QVERIFY(visto);
    QVERIFY(!f.isVisible());
    QCOMPARE(f.receiverRoot()->childCount(), 1);
    QCOMPARE(f.receiverRoot()->child(0)->text(0), QString("Principal"));
    // The toolbar picture opens it too.
    visto = false;
    QTimer::singleShot(0, &f, closeSocket);
    auto *imagem = mainWindow.findChild<QLabel *>("Img_Configuracoes");
    QVERIFY(imagem);
    QTest::mouseClick(imagem, Qt::LeftButton);
    QVERIFY(visto);
}

void TestConfiguracoes::outOfRangeValuesAreRefusedWhereTyped() {
    Dialogo d;
    d.openDialog();
    d.f->Botao_IncluirClick();
    d.select(d.receiver(0));
    d.w<QComboBox>("Combo_Modo_Comunicacao")->setCurrentIndex(1);
    QSpinBox *porta = d.spin("Porta_TCP");
    porta->setValue(7000);
    // The fifth digit is kept on screen, marked, not swallowed into 7000.
    porta->selectAll();
    QTest::keyClicks(porta, "70000");
    QCOMPARE(porta->text(), QString("70000"));
    QVERIFY(porta->styleSheet().contains("color"));
    QCOMPARE(porta->value(), 7000);
    // Leaving it refuses the value with its reason, and the last good one comes back.
    QTest::keyClick(porta, Qt::Key_Return);
    QCOMPARE(porta->text(), QString("7000"));
    QTRY_COMPARE(d.s.prompt.shown.size(), 1);
    QCOMPARE(d.s.prompt.shown[0].text,
             QString("Porta TCP: o valor 70000 está fora do limite (de 0 a 65535)."));
    QVERIFY(porta->styleSheet().isEmpty());
    d.f->Botao_AplicarClick();
    QCOMPARE(scalar(d.s.db(), "select PORTA_TCP from RECEIVER").toInt(), 7000);

    // The mail port takes digits only, from 1 to 65535.
    d.select(d.f->optionsRoot());
    QLineEdit *smtp = d.edit("Porta_Email");
    smtp->clear();
    QTest::keyClicks(smtp, "abc");
    QCOMPARE(smtp->text(), QString());
    QTest::keyClicks(smtp, "70000");
    QCOMPARE(smtp->text(), QString("70000"));
    QVERIFY(smtp->styleSheet().contains("color"));
    const int antes = d.s.prompt.shown.size();
    d.f->Botao_AplicarClick();
    QCOMPARE(d.s.prompt.shown.size(), antes + 1);
    QCOMPARE(d.s.prompt.shown.last().text,
             QString("O valor \"70000\" não é uma porta válida.\n"
                     "Porta: digite um número de 1 a 65535."));
    QCOMPARE(d.ini("Empresa", "Porta"), QString("(ausente)"));
    QVERIFY(d.botao("Botao_Aplicar")->isEnabled());
    smtp->selectAll();
    QTest::keyClicks(smtp, "587");
    QVERIFY(smtp->styleSheet().isEmpty());
    d.f->Botao_AplicarClick();
    QCOMPARE(d.s.prompt.shown.size(), antes + 1);
    QCOMPARE(d.ini("Empresa", "Porta"), QString("587"));
    // The file's "Erro" for a missing key may be erased letter by letter.
    smtp->setText("Erro");
    smtp->setCursorPosition(4);
    QTest::keyClick(smtp, Qt::Key_Backspace);
    QCOMPARE(smtp->text(), QString("Err"));
}

void TestConfiguracoes::portMonitorStampsPausesFiltersAndCopies() {
    Dialogo d;
    ReceiverRow(1).name("Serial Norte").mode(0).active(0).insertInto(d.s.db());
    ReceiverRow(2).name("GPRS Sul").mode(1).active(0).insertInto(d.s.db());
    d.openDialog();
    d.select(d.receiver(1));
    LineLog &monitor = d.s.core->dm().portMonitor();
    auto *visor = d.w<QPlainTextEdit>("Porta_Visor");
    auto *filtro = d.w<QComboBox>("Combo_Filtro_Visor");
    QCOMPARE(filtro->count(), 3);
    QCOMPARE(filtro->itemText(2), QString("2 - GPRS Sul"));
    monitor.append(1, "Porta 1:1011 0042E13001003");
    d.s.clock.advanceSecs(2);
    monitor.append(2, "TCP 17,2:&011234560042");
    QCOMPARE(visor->toPlainText(), QString("08/03/2026 22:15:00  Porta 1:1011 0042E13001003\n"
                                           "08/03/2026 22:15:02  TCP 17,2:&011234560042"));
    // One receiver's lines only, those before included.
    filtro->setCurrentIndex(2);
    QCOMPARE(visor->toPlainText(), QString("08/03/2026 22:15:02  TCP 17,2:&011234560042"));
    monitor.append(1, "Porta 1:outra");
    QCOMPARE(visor->document()->blockCount(), 1);

    // Paused, the view holds still and counts what comes; on again, it shows all of it.
    auto *pausa = d.botao("Botao_Pausar_Visor");
    pausa->click();
    QCOMPARE(pausa->text(), QString("Continuar"));
    monitor.append(2, "TCP 17,2:@");
    monitor.append(2, "TCP 17,2:@@");
    QCOMPARE(visor->document()->blockCount(), 1);
    QCOMPARE(d.w<QLabel>("Label_Visor_Pausado")->text(), QString("Pausado: 2 linha(s) nova(s)"));
    pausa->click();
    QCOMPARE(pausa->text(), QString("Pausar"));
    QCOMPARE(visor->document()->blockCount(), 3);
    QVERIFY(visor->toPlainText().endsWith("TCP 17,2:@@"));

    // Copied out: the selection, or every line shown.
    d.botao("Botao_Copiar_Visor")->click();
    QCOMPARE(QApplication::clipboard()->text(), visor->toPlainText());
    QTextCursor c(visor->document()->findBlockByNumber(1));
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    visor->setTextCursor(c);
    d.botao("Botao_Copiar_Visor")->click();
    QCOMPARE(QApplication::clipboard()->text(),
             QString("08/03/2026 22:15:02  TCP 17,2:@\n08/03/2026 22:15:02  TCP 17,2:@@"));
    // A frame's control bytes stay on its line, each as its code.
    monitor.append(2, QString::fromLatin1("TCP 17,2:@\r\r\x14"));
    QCOMPARE(visor->document()->blockCount(), 4);
    QCOMPARE(visor->document()->lastBlock().text(),
             QString("08/03/2026 22:15:02  TCP 17,2:@<0D><0D><14>"));
}

QTEST_MAIN(TestConfiguracoes)
#include "test_configuracoes.moc"
