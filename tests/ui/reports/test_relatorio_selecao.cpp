// The report selection window: its controls, the preview printed to PDF page by page, and the
// report e-mail against a real SMTP server on loopback while reception goes on.
#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include "core/common/Paths.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "ui/reports/Relatorio_Selecao.h"
#include "core/reports/ReportMailFlow.h"
#include "ui/reports/ReportPreview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kStart(QDate(2026, 3, 9), QTime(10, 0, 0));

void addEvent(Station &s, const QString &conta, const QString &cliente, const QDateTime &data,
              const QString &descricao) {
    exec(s.db(),
         "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, DESCRICAO, TIPO, DATA, "
         "TRATADO) values (:c, :cl, '1130', '003', :d, 'ALARME', :dt, 1)",
         {{":c", conta}, {":cl", cliente}, {":d", descricao}, {":dt", data}});
}

QString pdfText(const QString &pdf, int page) {
    QProcess p;
    p.start("pdftotext",
            {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
    if (!p.waitForFinished(20000)) return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct Window : Station {
    QWidget main;
    QPointer<Form_Relatorio_Selecao> f;
    QStringList statuses;

    Window()
        : Station(kStart) {
        Paths::setProgramDir(dir.path());
        f = new Form_Relatorio_Selecao(core->common(), core->settings(), &main);
        connect();
    }
    ~Window() {
        delete f;
        Paths::setProgramDir(QString());
    }
    void connect() {
        QObject::connect(&f->mailFlow(), &ReportMailFlow::statusChanged,
                         [this](const QString &t) { statuses << t; });
    }
    template <typename T> T *w(const char *name) {
        T *c = f->findChild<T *>(QLatin1String(name));
        if (!c) qFatal("no %s", name);
        return c;
    }
    void mailSettings(quint16 port) {
        LiveSettings &st = core->settings();
        st.setDefaultMailClient(false);
        st.setSmtp("127.0.0.1");
        st.setMailPort(QString::number(port));
        st.setCompanyName("Central Vigia");
        st.setMailAddress("central@vigia.example");
        st.setMailBody("Segue o relatório.");
    }
    void withEmail(const QString &conta, const QString &nome, const QString &email) {
        addAccount(conta, nome);
        if (!email.isEmpty())
            exec(db(), "update CLIENTES set EMAIL = :e where CONTA = :c",
                 {{":e", email}, {":c", conta}});
    }
    // Presses "Enviar por Email" and waits for the flow to end.
    bool mail(int timeoutMs = 15000) {
        QSignalSpy done(&f->mailFlow(), &ReportMailFlow::finished);
        w<QPushButton>("Botao_Email")->click();
        if (!f->mailFlow().running()) return true;
        return done.wait(timeoutMs);
    }
    bool rebuilt() {
        QSignalSpy spy(f.data(), &Form_Relatorio_Selecao::accountsRebuilt);
        f->rebuildAccounts();
        return spy.wait(5000);
    }
};

} // namespace

class TestRelatorioSelecao : public QObject {
    Q_OBJECT
private slots:
    void controlsAndPdf();
    void mailToEveryAccount();
    void mailRetryAndRefusals();
    void silentServerWhileReceptionGoesOn();
    void wholeDaysInPrintAndMail();
};

void TestRelatorioSelecao::controlsAndPdf() {
    Window t;
    t.addAccount("000002", "PADARIA LUA");
    t.addAccount("000001", "MERCADO SOL");
    t.f->show();
    QVERIFY(t.rebuilt());
    QCOMPARE(t.f->windowTitle(), QString("Relatórios de Eventos"));
    QCOMPARE(t.f->windowModality(), Qt::WindowModal);
    QComboBox *conta = t.w<QComboBox>("Combo_Conta");
    QCOMPARE(conta->currentText(), QString("Todas"));
    QCOMPARE(conta->count(), 3);
    QCOMPARE(conta->itemText(2), QString("000001")); // in the database's order
    QComboBox *selecao = t.w<QComboBox>("Combo_Selecao");
    QCOMPARE(selecao->count(), 8);
    QCOMPARE(selecao->itemText(3), QString("RESTAURAÇÃO"));
    QCOMPARE(selecao->currentText(), QString("Todos"));
    QVERIFY(t.w<QCheckBox>("CheckBox1")->isChecked());
    QDateEdit *inicial = t.w<QDateEdit>("DateTimePicker_Inicial");
    QCOMPARE(inicial->date(), kStart.date());
    QVERIFY(!inicial->isEnabled());
    t.w<QCheckBox>("CheckBox1")->setChecked(false);
    QVERIFY(inicial->isEnabled() && t.w<QDateEdit>("DateTimePicker_Final")->isEnabled());
    t.w<QCheckBox>("CheckBox1")->setChecked(true);
    QVERIFY(
        t.w<QGroupBox>("RadioGroup1")->findChild<QRadioButton *>("descendingOrder")->isChecked());
    QVERIFY(!t.w<QCheckBox>("Tipo_Relatorio")->isChecked());
    QVERIFY(t.w<QStatusBar>("StatusBar1"));
    QVERIFY(t.w<QProgressBar>("Barra1")->isHidden());
    QCOMPARE(t.w<QPushButton>("Button2")->text(), QString("Imprimir"));
    QCOMPARE(t.w<QPushButton>("Button1")->text(), QString("Fechar"));
    // The shown text survives a rebuild, and a new account joins the list.
    conta->setEditText("000002");
    t.addAccount("000003", "OFICINA");
    QVERIFY(t.rebuilt());
    QCOMPARE(conta->currentText(), QString("000002"));
    QCOMPARE(conta->count(), 4);

    // 60 events of one account: 51 on the first page, 9 and the summary on the second.
    for (int i = 0; i < 60; ++i)
        addEvent(t, "000001", i == 59 ? "MERCADO SOL LTDA" : "MERCADO SOL",
                 kStart.addSecs(-3600 + i * 60),
                 QString("ALARME ZONA %1").arg(i, 2, 10, QChar('0')));
    addEvent(t, "000002", "PADARIA LUA", kStart, "OUTRA CONTA");
    conta->setEditText("000001");
    t.core->settings().setCompanyName("Central Vigia");
    const QString pdf = t.dir.filePath("relatorio.pdf");
    int pages = 0;
    bool printed = false;
    QString firstPageShown;
    t.f->setPreviewRunner([&](ReportPreview &p) {
        pages = p.pageCount();
        if (!p.pageImage().isNull()) firstPageShown = "yes";
        // The second page is read and painted when asked for, not before.
        QTest::keyClick(&p, Qt::Key_PageDown);
        QCOMPARE(p.currentPage(), 1);
        if (!waitFor([&] { return !p.pageImage().isNull(); })) firstPageShown = "no second";
        QSignalSpy done(&p, &ReportPreview::printed);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        p.printTo(&printer);
        printed = done.wait(20000) && done.first().at(0).toBool();
    });
    t.w<QPushButton>("Button2")->click();
    QVERIFY(waitFor([&] { return printed; }, 30000));
    QCOMPARE(pages, 2);
    QCOMPARE(firstPageShown, QString("yes"));
    const QString one = pdfText(pdf, 1), two = pdfText(pdf, 2);
    // The title names the holder as the first event (the newest) recorded it.
    for (const QString &page : {one, two}) {
        QVERIFY2(page.contains("RELATÓRIO DE EVENTOS DO CLIENTE - MERCADO SOL LTDA"),
                 qPrintable(page));
        QVERIFY(page.contains("CONTA") && page.contains("EVENTO") &&
                page.contains("Cod/Argumento"));
    }
    QVERIFY2(one.contains("ALARME ZONA 59") && one.contains("ALARME ZONA 09"), qPrintable(one));
    QVERIFY(!one.contains("ALARME ZONA 08") && !one.contains("OUTRA CONTA"));
    QVERIFY2(two.contains("ALARME ZONA 08") && two.contains("ALARME ZONA 00"), qPrintable(two));
    // Each page says which it is, and whose; the printing time says what it is.
    QVERIFY2(one.contains("Página 1 de 2") && one.contains("Central Vigia"), qPrintable(one));
    QVERIFY2(two.contains("Página 2 de 2") && two.contains("Central Vigia"), qPrintable(two));
    QVERIFY(two.contains("Impresso em: 09/03/2026 10:00:00")); // the clock at printing
    QVERIFY(!one.contains("09/03/2026 10:00:00"));
    QVERIFY(two.contains("09/03/2026 09:08:"));
    QCOMPARE(pdfText(pdf, 3), QString()); // no third page
}

void TestRelatorioSelecao::mailToEveryAccount() {
    SmtpTestServer server;
    QVERIFY(server.ok());
    Window t;
    t.mailSettings(server.port());
    t.withEmail("000001", "MERCADO SOL", "sol@cliente.example");
    t.withEmail("000002", "SEM EMAIL", "");
    t.withEmail("000003", "PADARIA LUA", "lua@cliente.example");
    addEvent(t, "000001", "MERCADO SOL", kStart.addSecs(-60), "ALARME DO SOL");
    addEvent(t, "000003", "PADARIA LUA", kStart.addSecs(-60), "ALARME DA LUA");
    for (int i = 100; i < 400; ++i) // many more accounts without e-mail
        t.withEmail(QString("%1").arg(i, 6, 10, QChar('0')), "SEM EMAIL", "");
    QSignalSpy selected(&t.f->mailFlow(), &ReportMailFlow::accountSelected);
    QSignalSpy gauge(&t.f->mailFlow(), &ReportMailFlow::progressChanged);
    QSignalSpy done(&t.f->mailFlow(), &ReportMailFlow::finished);
    // Pressed while the account list is still being read: the loop waits for the whole list.
    t.f->show();
    t.w<QPushButton>("Botao_Email")->click();
    QCOMPARE(t.f->statusText(), QString("Lendo a lista de contas..."));
    QVERIFY(done.wait(15000));
    QVERIFY(server.waitForMessages(2));
    QCOMPARE(server.messageCount(), 2);
    QCOMPARE(t.prompt.shown.size(), 0); // the account without e-mail is passed over silently
    const QString a = "sol@cliente.example", b = "lua@cliente.example";
    const QStringList each = {"Gerando o relatório em formato texto",
                              "Anexando relatório ao E-mail...", "Enviando ", "Email enviado : "};
    QStringList expected;
    for (const QString &to : {a, b})
        for (const QString &s : each)
            expected << (s.endsWith(' ') ? s + to : s);
    QCOMPARE(t.statuses, expected);
    QVERIFY(server.message(1).contains("Relatorio000001.TXT"));
    QVERIFY(server.message(2).contains("Relatorio000003.TXT"));
    QCOMPARE(server.session(1).value("to").toVariant().toStringList(), QStringList({a}));
    QCOMPARE(server.session(2).value("to").toVariant().toStringList(), QStringList({b}));
    QCOMPARE(server.session(1).value("from").toString(), QString("central@vigia.example"));
    QVERIFY(QFile::exists(t.dir.filePath("Relatorio000001.TXT")));
    QVERIFY(!QFile::exists(t.dir.filePath("Relatorio000002.TXT")));
    QFile file(t.dir.filePath("Relatorio000003.TXT"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("RELATÓRIO DE EVENTOS DO CLIENTE 000003-PADARIA LUA"));
    QVERIFY(text.contains("ALARME DA LUA") && !text.contains("ALARME DO SOL"));
    // Only the accounts with an e-mail are walked, and the gauge counts them.
    QStringList walked;
    for (const QList<QVariant> &a : selected) walked << a.at(0).toString();
    QCOMPARE(walked, QStringList({"000001", "000003", "Todas"}));
    QCOMPARE(t.w<QComboBox>("Combo_Conta")->currentText(), QString("Todas"));
    QCOMPARE(gauge.at(1), QVariantList({0, 2}));
    QCOMPARE(gauge.at(2), QVariantList({1, 2}));
    QCOMPARE(gauge.at(3), QVariantList({2, 2}));
    QVERIFY(t.w<QProgressBar>("Barra1")->isHidden());
    QCOMPARE(t.w<QPushButton>("Botao_Email")->text(), QString("Enviar por Email"));
}

void TestRelatorioSelecao::mailRetryAndRefusals() {
    SmtpTestServer::Options refuseOnce;
    refuseOnce.refuse = 1;
    SmtpTestServer server(refuseOnce);
    QVERIFY(server.ok());
    Window t;
    t.mailSettings(server.port());
    t.withEmail("000001", "MERCADO SOL", "sol@cliente.example");
    t.withEmail("000002", "SEM EMAIL", "");
    t.f->show();
    QVERIFY(t.rebuilt());
    QComboBox *conta = t.w<QComboBox>("Combo_Conta");

    conta->setEditText("000002");
    QVERIFY(t.mail());
    QCOMPARE(t.prompt.shown.size(), 1);
    QCOMPARE(t.prompt.shown.at(0).text, QString("O e-mail do cliente 000002 não foi cadastrado!"));
    QVERIFY(t.statuses.isEmpty());
    QVERIFY(!QFile::exists(t.dir.filePath("Relatorio000002.TXT")));

    // A port that is not a number stops everything before anything is made.
    t.core->settings().setMailPort("Erro");
    conta->setEditText("000001");
    QVERIFY(t.mail());
    QCOMPARE(t.prompt.shown.size(), 2);
    QVERIFY(t.prompt.shown.at(1).text.contains("\"Erro\""));
    QVERIFY(t.statuses.isEmpty());

    t.mailSettings(server.port());
    QVERIFY(t.mail());
    QCOMPARE(t.prompt.shown.size(), 3);
    QCOMPARE(t.prompt.shown.at(2).text,
             QString("Erro ao tentar enviar o email para sol@cliente.example 1ª Tentativa"));
    QCOMPARE(t.statuses.last(), QString("Email enviado : sol@cliente.example"));
    QCOMPARE(server.messageCount(), 1);

    // "Usar o correio padrão" with a mail client on the desktop: the message goes to it
    // (xdg-email), not to the server. The desktop here is two scripts that note their call.
    QTemporaryDir bin;
    const QString noted = bin.filePath("chamada.txt");
    auto script = [&](const QString &name, const QByteArray &body) {
        QFile f(bin.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body);
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeUser);
    };
    script("xdg-mime", "echo cliente-de-email.desktop\n");
    script("xdg-email", "for a in \"$@\"; do echo \"$a\"; done > " + noted.toUtf8() +
                            ".tmp && mv " + noted.toUtf8() + ".tmp " + noted.toUtf8() + "\n");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":" + path);
    t.core->settings().setDefaultMailClient(true);
    t.core->settings().setMailPort("Erro"); // not used on this path
    t.statuses.clear();
    QVERIFY(t.mail());
    qputenv("PATH", path);
    QVERIFY(waitFor([&] { return QFile::exists(noted); }, 5000));
    QFile call(noted);
    QVERIFY(call.open(QIODevice::ReadOnly));
    QCOMPARE(
        QString::fromUtf8(call.readAll()).split('\n', Qt::SkipEmptyParts),
        QStringList({"--subject", "Relatorio de Eventos", "--body", "Segue o relatório.",
                     "--attach", t.dir.filePath("Relatorio000001.TXT"), "sol@cliente.example"}));
    QCOMPARE(t.statuses.last(), QString("Email enviado : sol@cliente.example"));
    QCOMPARE(t.prompt.shown.size(), 3);
    QCOMPARE(server.messageCount(), 1);

    // A server that refuses the recipient: both attempts fail, and the last box gives the
    // server's own answer.
    SmtpTestServer::Options relaying;
    relaying.refuseRecipient = "550 5.7.1 Relaying denied";
    SmtpTestServer refusing(relaying);
    QVERIFY(refusing.ok());
    t.mailSettings(refusing.port());
    t.prompt.shown.clear();
    QVERIFY(t.mail());
    QStringList boxes;
    for (const auto &m : t.prompt.shown) boxes << m.text;
    QCOMPARE(boxes, QStringList({"Erro ao tentar enviar o email para sol@cliente.example 1ª "
                                 "Tentativa",
                                 "Erro ao tentar enviar o email para sol@cliente.example 2ª "
                                 "Tentativa",
                                 "Não pode enviar o email para sol@cliente.example\n\n"
                                 "Verifique as configurações da conta!\n\n"
                                 "O servidor respondeu: 550 5.7.1 Relaying denied"}));
    QCOMPARE(refusing.messageCount(), 0);
}

void TestRelatorioSelecao::silentServerWhileReceptionGoesOn() {
    SmtpTestServer::Options silent;
    silent.silent = true;
    SmtpTestServer server(silent);
    QVERIFY(server.ok());
    Window t;
    t.mailSettings(server.port());
    t.f->mailFlow().setSmtpTimeout(3);
    t.withEmail("000001", "MERCADO SOL", "sol@cliente.example");
    // A TCP receiver with an identified device.
    mapPort(t.core->dataDir(), 1, t.dir.path() + "/sem-porta");
    const quint16 port = freePort();
    ReceiverRow::tcp(1, port, 0, 60).insertInto(t.db());
    GprsRow("123456").account("0042").status("A").blocked(0).insertInto(t.db());
    t.core->dm().Realizar_Atualizacoes();
    QTcpSocket device;
    device.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(waitFor([&] { return device.bytesAvailable() > 0 || device.waitForReadyRead(10); }));
    device.readAll();
    device.write("&01123456"
                 "0042");
    QVERIFY(waitFor([&] { return t.core->connectionRegistry().rowCount() == 1; }));
    t.f->show();
    QVERIFY(t.rebuilt());
    t.w<QComboBox>("Combo_Conta")->setEditText("000001");

    QSignalSpy done(&t.f->mailFlow(), &ReportMailFlow::finished);
    t.w<QPushButton>("Botao_Email")->click();
    QVERIFY(waitFor(
        [&] { return !t.statuses.isEmpty() && t.statuses.last().startsWith("Enviando"); }, 5000));
    // While the server keeps silent, an alarm arrives and is queued.
    const qsizetype before = t.core->eventQueue().size();
    device.write("5011 180042E13001003\x14");
    device.flush();
    QVERIFY(waitFor([&] { return t.core->eventQueue().size() == before + 1; }, 2000));
    QVERIFY(done.isEmpty());
    QVERIFY(done.wait(10000));
    QCOMPARE(t.prompt.shown.size(), 1); // the server's silence, told once; no retry message
    QCOMPARE(t.prompt.shown.at(0).text, "O servidor SMTP 127.0.0.1:" +
                                            QString::number(server.port()) +
                                            " não respondeu em 3 segundos.");
    QCOMPARE(t.statuses.last(), QString("Enviando sol@cliente.example"));

    // "Cancelar" cuts a send that hangs.
    t.statuses.clear();
    t.f->mailFlow().setSmtpTimeout(60);
    QPushButton *email = t.w<QPushButton>("Botao_Email");
    email->click();
    QCOMPARE(email->text(), QString("Cancelar"));
    QVERIFY(waitFor(
        [&] { return !t.statuses.isEmpty() && t.statuses.last().startsWith("Enviando"); }, 5000));
    QElapsedTimer cut;
    cut.start();
    email->click();
    QVERIFY(done.wait(5000));
    QVERIFY(cut.elapsed() < 5000);
    QCOMPARE(t.statuses.last(), QString("Envio cancelado pelo operador."));
    QCOMPARE(email->text(), QString("Enviar por Email"));
    QCOMPARE(t.prompt.shown.size(), 1);
}

// "Imprimir" and "Enviar por Email" take the same whole days: the first day from 00:00:00,
// the last to its 23:59:59, not the next day's 00:00:00 (a customer's December report once
// held a 03/12 event, and its mail lacked the alarm of 01/12 00:00:00).
void TestRelatorioSelecao::wholeDaysInPrintAndMail() {
    SmtpTestServer server;
    QVERIFY(server.ok());
    Window t;
    t.mailSettings(server.port());
    t.withEmail("000001", "MERCADO SOL", "sol@cliente.example");
    const QDate first(2026, 12, 1), last(2026, 12, 2);
    addEvent(t, "000001", "MERCADO SOL", QDateTime(first, QTime(0, 0)).addSecs(-1),
             "NA VESPERA");
    addEvent(t, "000001", "MERCADO SOL", QDateTime(first, QTime(0, 0)), "PRIMEIRO SEGUNDO");
    addEvent(t, "000001", "MERCADO SOL", QDateTime(last, QTime(23, 59, 59)), "ULTIMO SEGUNDO");
    addEvent(t, "000001", "MERCADO SOL", QDateTime(last.addDays(1), QTime(0, 0)),
             "DIA SEGUINTE");
    t.f->show();
    QVERIFY(t.rebuilt());
    t.w<QComboBox>("Combo_Conta")->setEditText("000001");
    t.w<QCheckBox>("CheckBox1")->setChecked(false);
    t.w<QDateEdit>("DateTimePicker_Inicial")->setDate(first);
    t.w<QDateEdit>("DateTimePicker_Final")->setDate(last);

    const QString pdf = t.dir.filePath("dias.pdf");
    bool printed = false;
    t.f->setPreviewRunner([&](ReportPreview &p) {
        QSignalSpy done(&p, &ReportPreview::printed);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        p.printTo(&printer);
        printed = done.wait(20000) && done.first().at(0).toBool();
    });
    t.w<QPushButton>("Button2")->click();
    QVERIFY(waitFor([&] { return printed; }, 30000));
    const QString page = pdfText(pdf, 1);
    QVERIFY2(page.contains("PRIMEIRO SEGUNDO") && page.contains("ULTIMO SEGUNDO"),
             qPrintable(page));
    QVERIFY2(!page.contains("NA VESPERA") && !page.contains("DIA SEGUINTE"), qPrintable(page));

    QVERIFY(t.mail());
    QVERIFY(server.waitForMessages(1));
    QFile file(t.dir.filePath("Relatorio000001.TXT"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("PRIMEIRO SEGUNDO") && text.contains("ULTIMO SEGUNDO"),
             text.constData());
    QVERIFY2(!text.contains("NA VESPERA") && !text.contains("DIA SEGUINTE"), text.constData());
    QVERIFY(text.contains("Página 1 de 1") && text.contains("Central Vigia"));
}

QTEST_MAIN(TestRelatorioSelecao)
#include "test_relatorio_selecao.moc"
