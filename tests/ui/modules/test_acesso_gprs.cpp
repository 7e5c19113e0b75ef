#include "support/TestSupport.h"

#include "ui/modules/Acesso_GPRS.h"
#include "ui/modules/Form_QVN12.h"
#include "core/modules/ModuleExchange.h"
#include "core/reception/ConnectionRegistry.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(10, 0, 0));

// A block of a model whose bytes run through every value.
QByteArray bloco(int modelo) {
    QByteArray b(ModuleExchange::kBlockSize, '\0');
    for (int i = 0; i < b.size(); ++i)
        b[i] = char((i * 7 + 3) % 256);
    b[2] = char(modelo);
    return b;
}

// The console over a module identified on slot 1, its editor, scripted prompt and dialogs.
struct Console : Station {
    QTcpSocket modulo;
    QByteArray recebido;
    ModuleExchange troca{core->dm(), core->connectionRegistry(), core->deviceLink()};
    Form_QVN12 editor{core->database(), &prompt};
    Form_Acesso_GPRS form{troca, &prompt};
    ScriptedChooser chooser;

    Console()
        : Station(kInicio) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        const quint16 port = freePort();
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
        GprsRow("111111").account("0042").status("A").date(kInicio).blocked(0).insertInto(db());
        modulo.connectToHost(QHostAddress::LocalHost, port);
        recv(1);
        modulo.write("&011111110042");
        waitFor([&] {
            return core->connectionRegistry().rowCount() == 1 &&
                   !core->connectionRegistry().row(0).imei.isEmpty();
        });
        // The slot answers at once, before anything the console asks of the module.
        if (recv(1) != "+") qFatal("identification not answered");
        troca.setIntervals({400, 200, 5000, 100});
        form.setEditor(&editor);
        form.setFileChooser(&chooser);
        form.prepare(1, 0, core->connectionRegistry().row(0).socket);
    }
    QByteArray recv(qsizetype n) {
        waitFor([&] { return (recebido += modulo.readAll()).size() >= n; });
        return std::exchange(recebido, QByteArray());
    }
    template <typename T> T *item(const char *nome) {
        T *w = form.findChild<T *>(QLatin1String(nome));
        if (!w) qFatal("no %s", nome);
        return w;
    }
    QString texto(const char *nome) { return item<QLabel>(nome)->text(); }
    // Which of "Acessar Dados", "Upload", "Download", "Resetar Dispositivo" are enabled.
    QString botoes() {
        QString s;
        for (const char *b :
             {"Button_Acessar", "Button_Enviar", "Button_Download", "Button_Resetar_Equipamento"})
            s += item<QPushButton>(b)->isEnabled() ? '1' : '0';
        return s;
    }
    // Shows the console and answers its "DW" with a block.
    void download(const QByteArray &b) {
        if (!form.isVisible())
            form.show();
        else
            item<QPushButton>("Button_Download")->click();
        QCOMPARE(recv(2), QByteArray("DW"));
        modulo.write(b);
        QVERIFY(waitFor([&] { return texto("Informacao").startsWith("Dados Recebidos."); }));
    }
    // Clicks a button that may open the editor; the editor, if it opens, closes again at once.
    // True when it opened.
    bool editorAbreCom(const char *botao, const std::function<void()> &antesDeFechar = {}) {
        bool abriu = false;
        QTimer::singleShot(100, &editor, [&] {
            abriu = editor.isVisible();
            if (abriu && antesDeFechar) antesDeFechar();
            if (abriu) editor.close();
        });
        item<QPushButton>(botao)->click();
        waitFor([] { return false; }, 200);
        return abriu;
    }
};

} // namespace

class TestAcessoGprs : public QObject {
    Q_OBJECT
private slots:
    void itemsAndTheDownloadAsItShows();
    void accessOpensTheEditorForQvnModelsOnly();
    void filesThroughTheChooser();
    void invalidFileIsLookedAtButNeverUploaded();
    void saveWritesTheEditedBlockAndNeverAnEmptyOne();
    void longMessagesWrapInAFixedWidth();
};

void TestAcessoGprs::itemsAndTheDownloadAsItShows() {
    Console c;
    QCOMPARE(c.form.objectName(), QString("Form_Acesso_GPRS"));
    QCOMPARE(c.form.windowTitle(), QString("Acesso GPRS"));
    QCOMPARE(c.form.windowModality(), Qt::WindowModal);
    QCOMPARE(c.texto("Socket"), QString("1"));
    QCOMPARE(c.texto("Conexao"), QString("0"));
    QCOMPARE(c.texto("Equipamento"), QString("1"));
    QCOMPARE(c.texto("Informacao"), QString("Informacao"));
    QVERIFY(c.item<QPlainTextEdit>("Memo1")->isHidden());
    const QList<QStringList> botoes{
        {"Button_Acessar", "Acessar Dados", "Clique para alterar os dados do equipamento"},
        {"Button_Enviar", "Upload", "Clique para enviar as alterações"},
        {"Button_Salvar_Arquivo", "Salvar p/ Arquivo", ""},
        {"Button_Abrir_Arquivo", "Abrir Arquivo", ""},
        {"Button_Resetar_Equipamento", "Resetar Dispositivo",
         "Clique para reiniciar o equipamento"},
        {"Button_Download", "Download", "Clique para baixar os dados do equipamento"}};
    for (const QStringList &b : botoes) {
        auto *w = c.item<QPushButton>(qPrintable(b[0]));
        QCOMPARE(w->text(), b[1]);
        QCOMPARE(w->toolTip(), b[2]);
    }

    c.form.show();
    QCOMPARE(c.recv(2), QByteArray("DW"));
    QCOMPARE(c.texto("Informacao"), QString("Enviando comando de leitura..."));
    QCOMPARE(c.botoes(), QString("0000"));
    QVERIFY(c.item<QPushButton>("Button_Salvar_Arquivo")->isEnabled());
    // Closed by its frame, the console leaves the download to its time-out.
    c.form.close();
    QCOMPARE(c.core->dm().slot(1).dumpPending, quint8(1));
    QVERIFY(waitFor([&] { return c.texto("Informacao") == "Equipamento GPRS não responde!"; }));
    QCOMPARE(c.core->dm().slot(1).dumpPending, quint8(0));
    QCOMPARE(c.botoes(), QString("0010"));

    const QByteArray b = bloco(1);
    c.download(b);
    QCOMPARE(c.texto("Informacao"), QString("Dados Recebidos.800 Bytes"));
    QCOMPARE(c.texto("Equipamento"), QString("QVN-12 Dedicado"));
    QCOMPARE(c.item<QPlainTextEdit>("Memo1")->toPlainText(),
             QString::fromLatin1(b.toHex().toUpper()));
    QCOMPARE(c.botoes(), QString("1011"));
    // Reopening keeps the model until the next download, but not the block.
    c.form.close();
    c.form.prepare(1, 0, c.core->connectionRegistry().row(0).socket);
    QCOMPARE(c.item<QPlainTextEdit>("Memo1")->toPlainText(), QString());
    QCOMPARE(c.texto("Equipamento"), QString("QVN-12 Dedicado"));
    c.download(b);

    c.item<QPushButton>("Button_Resetar_Equipamento")->click();
    QCOMPARE(c.recv(5), QByteArray("RESET"));
    QVERIFY(!c.form.isVisible());
}

void TestAcessoGprs::accessOpensTheEditorForQvnModelsOnly() {
    Console c;
    c.download(bloco(13));
    QCOMPARE(c.texto("Equipamento"), QString("LX-ORB1"));
    QCOMPARE(c.botoes(), QString("1011"));
    QVERIFY(!c.editorAbreCom("Button_Acessar"));
    QCOMPARE(c.botoes(), QString("1011"));

    const QByteArray b = bloco(3);
    c.download(b);
    QCOMPARE(c.texto("Equipamento"), QString("QVN-8 Universal"));
    QVERIFY(c.editorAbreCom("Button_Acessar"));
    // The editor's block is ready for the upload, which writes it after "UPE".
    QCOMPARE(c.botoes(), QString("1111"));
    const QByteArray editado = c.troca.pendingUploadBlock();
    QCOMPARE(editado.size(), 800);
    c.item<QPushButton>("Button_Enviar")->click();
    QCOMPARE(c.recv(3), QByteArray("UPI"));
    QCOMPARE(c.botoes(), QString("0000"));
    c.modulo.write("UPE");
    QCOMPARE(c.recv(800), editado);
    c.modulo.write("UPOK");
    QVERIFY(waitFor([&] { return c.texto("Informacao") == "Dados enviados com sucesso!"; }));
    QCOMPARE(c.botoes(), QString("0110"));
    // "Download" reads the module back.
    c.download(editado);
    QCOMPARE(c.texto("Informacao"), QString("Dados Recebidos.800 Bytes"));
}

void TestAcessoGprs::filesThroughTheChooser() {
    Console c;
    const QString hex = QString::fromLatin1(bloco(2).toHex().toUpper());
    // Digits broken over lines read as one block.
    const QString aberto = c.dir.filePath("modulo.CFG");
    QFile f(aberto);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(hex.left(700).toLatin1() + "\r\n" + hex.mid(700).toLatin1() + "\r\n");
    f.close();
    c.chooser.answer = aberto;
    // No download at all: the file's block is edited and may be uploaded.
    QVERIFY(c.editorAbreCom("Button_Abrir_Arquivo"));
    QCOMPARE(c.item<QPlainTextEdit>("Memo1")->toPlainText(), hex);
    QCOMPARE(c.botoes(), QString("1100"));
    QCOMPARE(c.chooser.asked.last(), QString("Abrir Arquivo||(*.CFG)"));

    // Saving over an existing file asks first; "No" writes nothing.
    const QString salvo = c.dir.filePath("salvo.CFG");
    QFile s(salvo);
    QVERIFY(s.open(QIODevice::WriteOnly));
    s.write("antes");
    s.close();
    c.chooser.answer = salvo;
    c.prompt.answers = {false};
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QCOMPARE(c.prompt.shown.last().text, QString("Deseja sobreescrever o arquivo existente?"));
    QCOMPARE(c.prompt.shown.last().caption, QString("ARQUIVO JÁ EXISTE"));
    QVERIFY(s.open(QIODevice::ReadOnly));
    QCOMPARE(s.readAll(), QByteArray("antes"));
    s.close();
    c.prompt.answers = {true};
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QVERIFY(s.open(QIODevice::ReadOnly));
    // The editor has closed over the file's block: what it produced is what is saved.
    QCOMPARE(s.readAll(), c.troca.pendingUploadBlock().toHex().toUpper() + "\r\n");
    s.close();
    // A new file: no question, and the default extension.
    const int perguntas = c.prompt.shown.size();
    c.chooser.answer = c.dir.filePath("novo");
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QCOMPARE(c.prompt.shown.size(), perguntas);
    QVERIFY(QFile::exists(c.dir.filePath("novo.CFG")));
    QCOMPARE(c.chooser.asked.last(), QString("Salvar p/ Arquivo|Configurações|(*.CFG)|CFG"));
}

void TestAcessoGprs::invalidFileIsLookedAtButNeverUploaded() {
    Console c;
    c.download(bloco(1));
    QString hex = QString::fromLatin1(bloco(2).toHex().toUpper());
    hex[1000] = 'G'; // a bad digit at position 1001
    const QString aberto = c.dir.filePath("ruim.CFG");
    QFile f(aberto);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(hex.toLatin1() + "\r\n");
    f.close();
    c.chooser.answer = aberto;
    QVERIFY(c.editorAbreCom("Button_Abrir_Arquivo"));
    QCOMPARE(c.prompt.shown.size(), 1);
    QVERIFY(c.prompt.shown[0].text.contains("não contém um bloco de parâmetros válido"));
    QVERIFY(c.prompt.shown[0].text.contains("posição 1001"));
    QVERIFY(c.prompt.shown[0].text.contains("não será enviado ao equipamento"));
    // The editor was looked at and closed: "Upload" stays off, and nothing reaches the module.
    QCOMPARE(c.botoes(), QString("1011"));
    QVERIFY(c.texto("Informacao").contains("não será enviado ao equipamento"));
    c.form.Button_EnviarClick();
    QByteArray nada;
    waitFor([&] { return !(nada += c.modulo.readAll()).isEmpty(); }, 200);
    QCOMPARE(nada, QByteArray());
    // Nor is it saved as a block.
    c.chooser.answer = c.dir.filePath("copia.CFG");
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QVERIFY(!QFile::exists(c.dir.filePath("copia.CFG")));
    QVERIFY(c.prompt.shown.last().text.startsWith("O arquivo aberto não contém um bloco"));
}

void TestAcessoGprs::saveWritesTheEditedBlockAndNeverAnEmptyOne() {
    Console c;
    // A download that got no answer leaves nothing to save: the chosen file keeps its block.
    const QString salvo = c.dir.filePath("modulo.CFG");
    QFile s(salvo);
    QVERIFY(s.open(QIODevice::WriteOnly));
    s.write("bloco anterior\r\n");
    s.close();
    c.chooser.answer = salvo;
    c.prompt.answers = {true, true};
    c.form.show();
    QCOMPARE(c.recv(2), QByteArray("DW"));
    QVERIFY(waitFor([&] { return c.texto("Informacao") == "Equipamento GPRS não responde!"; }));
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QCOMPARE(c.prompt.shown.size(), 1);
    QVERIFY(c.prompt.shown[0].text.startsWith("Nenhum bloco de parâmetros"));
    QVERIFY(s.open(QIODevice::ReadOnly));
    QCOMPARE(s.readAll(), QByteArray("bloco anterior\r\n"));
    s.close();

    // Downloaded and edited: the edited block is saved, the one "Upload" would send.
    c.download(bloco(2));
    QVERIFY(c.editorAbreCom("Button_Acessar", [&] {
        c.editor.findChild<QLineEdit *>("APN_Operadora")->setText("apn.editada");
    }));
    const QByteArray editado = c.troca.pendingUploadBlock();
    QCOMPARE(editado.mid(65, 11), QByteArray("apn.editada"));
    c.item<QPushButton>("Button_Salvar_Arquivo")->click();
    QVERIFY(s.open(QIODevice::ReadOnly));
    QCOMPARE(s.readAll(), editado.toHex().toUpper() + "\r\n");
    s.close();
}

void TestAcessoGprs::longMessagesWrapInAFixedWidth() {
    Console c;
    c.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c.form));
    QCOMPARE(c.form.width(), Form_Acesso_GPRS::kWidth);
    // A file deep in folders, and not a block: a long reason in the information line.
    const QString pasta =
        c.dir.filePath(QString("configuracoes dos modulos instalados/").repeated(4));
    QVERIFY(QDir().mkpath(pasta));
    const QString aberto = pasta + "modulo com nome comprido.CFG";
    QFile f(aberto);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("0102");
    f.close();
    c.chooser.answer = aberto;
    c.editorAbreCom("Button_Abrir_Arquivo");
    auto *info = c.item<QLabel>("Informacao");
    QVERIFY(info->text().size() > 300);
    QVERIFY(info->wordWrap());
    QTRY_VERIFY(info->height() > 3 * info->fontMetrics().height());
    QCOMPARE(c.form.width(), Form_Acesso_GPRS::kWidth);
    QVERIFY(info->width() <= Form_Acesso_GPRS::kWidth);
}

int main(int argc, char **argv) {
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestAcessoGprs t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_acesso_gprs.moc"
