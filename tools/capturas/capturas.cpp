// Pictures of the windows an operator and a technician work in, taken from the real forms on a
// station filled with accounts, events, devices and receivers: the account form, the report
// preview, the access console of a module and the settings dialog. Run under an X server
// (Xvfb), it writes one PNG per window into the folder given (default: ./capturas).
//
//   xvfb-run -a -s "-screen 0 1366x768x24" ./build-test/capturas /tmp/capturas

#include "support/TestSupport.h"

#include "ui/console/Principal.h"
#include "ui/modules/Acesso_GPRS.h"
#include "ui/modules/Form_QVN12.h"
#include "core/modules/ModuleExchange.h"
#include "core/reception/ConnectionRegistry.h"
#include "ui/registry/Cadastro_Clientes.h"
#include "ui/reports/ReportPreview.h"
#include "ui/reports/Relatorio_Selecao.h"
#include "ui/reports/Tempo_Atendimento.h"
#include "ui/console/Contas_Disparo.h"
#include "ui/console/Contas_Teste.h"
#include "ui/console/StormControl.h"
#include "ui/reports/Auditoria.h"
#include "core/events/StationModes.h"
#include "core/operators/AuditTrail.h"
#include "core/operators/CurrentOperator.h"
#include "ui/console/Eventos_Pendentes.h"
#include "ui/settings/Configuracoes.h"
#include "core/common/Paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace tulmo;
using namespace tulmo::test;

namespace {

QString out;

void save(QWidget *w, const QString &name) {
    QApplication::processEvents();
    QTest::qWait(300);
    const QString file = out + QLatin1Char('/') + name;
    if (!w->grab().save(file)) qFatal("could not write %s", qPrintable(file));
    qInfo("%s", qPrintable(file));
}

QByteArray block(int model) {
    QByteArray b(ModuleExchange::kBlockSize, '\x0D');
    b[0] = 0;
    b[1] = 19;
    b[2] = char(model);
    b.replace(10, 6, "123456");
    b.replace(17, 12, "200.150.10.1");
    b.replace(65, 17, "gprs.operadora.br");
    return b;
}

void fill(Station &s) {
    s.addAccount("000042", "PADARIA BOM PÃO LTDA", "11987654321");
    s.addAccount("000043", "MERCADO SOL");
    s.addName("ZONAS", "ZONA", "000042", 1, "PORTA DA FRENTE");
    s.addName("ZONAS", "ZONA", "000042", 2, "JANELA DA COZINHA");
    s.addName("USUARIOS", "USUARIO", "000042", 1, "JOÃO DA SILVA");
    const QDateTime t0 = s.clock.now().addSecs(-3 * 3600);
    for (int i = 0; i < 70; ++i)
        exec(s.db(),
             "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, DESCRICAO, TIPO, "
             "DATA, TRATADO, INTERVENCAO, DETALHES, DATA_INTERVENCAO) values ('000042', "
             "'PADARIA BOM PÃO LTDA', :c, :a, :d, :t, :dt, 1, :i, :det, :dt)",
             {{":c", i % 3 ? "1130" : "3401"},
              {":a", QString("%1").arg(i % 7 + 1, 3, 10, QChar('0'))},
              {":d", i % 3 ? QString("ALARME ROUBO ZONA %1").arg(i % 7 + 1) : "ARME PELO USUÁRIO"},
              {":t", i % 3 ? "ALARME" : "ARME"},
              {":dt", t0.addSecs(i * 150)},
              {":i", i % 3 ? "CONTATO CLIENTE" : ""},
              {":det", i % 3 ? "Cliente avisado; viatura dispensada" : ""}});
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("capturas");
    QDir().mkpath(out);
    Station s(QDateTime(QDate(2026, 12, 9), QTime(11, 34, 2)));
    Paths::setProgramDir(s.dir.path());
    s.core->settings().setCompanyName("CENTRAL VIGIA 24H");
    fill(s);
    mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
    const quint16 port = freePort();
    ReceiverRow(1).name("GPRS Central").mode(1).active(1).comPort(0, 3).tcpPort(port)
        .replyDelay(0).keepAlive(5).insertInto(s.db());
    ReceiverRow(2).name("Serial Norte").mode(0).active(0).comPort(1, 3).insertInto(s.db());
    s.core->dm().Realizar_Atualizacoes();
    GprsRow("123456").account("0042").status("A").date(s.clock.now()).blocked(0).insertInto(s.db());

    Form_Principal w(s.core->services(), nullptr);
    w.resize(1280, 600);
    w.show();
    QTest::qWaitForWindowExposed(&w);
    save(&w, "principal.png");

    // The account form, opened on an account with zones and users.
    Form_Cadastro_Clientes *cadastro = Form_Cadastro_Clientes::create(s.core->common(), &w);
    cadastro->openAccount("000042");
    QTest::qWaitForWindowExposed(cadastro);
    save(cadastro, "cadastro_clientes.png");
    cadastro->close();

    // The report preview of the account, its first page as painted.
    auto *relatorio = new Form_Relatorio_Selecao(s.core->common(), s.core->settings(), &w);
    relatorio->show();
    QTest::qWaitForWindowExposed(relatorio);
    relatorio->findChild<QComboBox *>("Combo_Conta")->setEditText("000042");
    bool shown = false;
    relatorio->setPreviewRunner([&](ReportPreview &p) {
        p.resize(1000, 720);
        p.show();
        QTest::qWaitForWindowExposed(&p);
        waitFor([&] { return !p.pageImage().isNull(); }, 10000);
        save(&p, "previa_relatorio.png");
        shown = true;
    });
    save(relatorio, "relatorio_selecao.png");
    relatorio->findChild<QPushButton *>("Button2")->click();
    waitFor([&] { return shown; }, 30000);
    delete relatorio;

    // A module on line, and its access console after a download.
    LoopbackDevice d;
    d.connectTo(port);
    d.recv();
    d.send("&011234560042");
    waitFor([&] { return s.core->connectionRegistry().rowCount() > 0 &&
                         s.core->connectionRegistry().row(0).imei == "123456"; });
    s.clock.advanceSecs(7); // the "+" of the identification leaves
    s.core->Timer_AtualizarTimer();
    d.recv();
    w.findChild<QTabWidget *>("PageControl1")->setCurrentIndex(1);
    QTest::qWait(300);
    Form_Acesso_GPRS &acesso = w.accessForm();
    QTimer::singleShot(0, &acesso, [&] {
        d.recv(2);
        d.send(block(1));
        waitFor([&] { return w.moduleExchange().phase() == ModuleExchange::Phase::Idle &&
                             !w.moduleExchange().hexText().isEmpty(); }, 5000);
        save(&acesso, "acesso_gprs.png");
        acesso.reject();
    });
    w.findChild<QTableView *>("Grid_Conectados")->selectRow(0);
    w.Grid_ConectadosDblClick();

    // Answer times of the last days, by operator and by type.
    {
        const QDateTime day = s.clock.now().addDays(-2);
        const char *ops[] = {"ANA", "BRUNO", "CARLA"};
        for (int i = 0; i < 40; ++i)
            exec(s.db(),
                 "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, TIPO, DATA, TRATADO, "
                 "DATA_INTERVENCAO, OPERADOR_TRATOU) values ('000043', 'MERCADO SOL', '1130', :t, "
                 ":d, 1, :di, :o)",
                 {{":t", i % 4 ? "ALARME" : "PANICO"},
                  {":d", day.addSecs(i * 600)},
                  {":di", day.addSecs(i * 600 + 20 + (i * 37) % 140)},
                  {":o", ops[i % 3]}});
        auto *tempos = new Form_Tempo_Atendimento(s.core->common(), s.core->settings(), &w);
        tempos->findChild<QDateEdit *>("DataInicial")->setDate(day.date());
        tempos->calculate();
        tempos->show();
        save(tempos, "tempo_atendimento.png");
        tempos->close();
    }
    // A runaway account, and pending events of several ages.
    {
        exec(s.db(), "insert into CONTAS_DISPARADAS (CONTA, DESDE, ULTIMO, SINAIS) values "
                     "('000043', :d, :u, 27)",
             {{":d", s.clock.now().addSecs(-1800)}, {":u", s.clock.now().addSecs(-40)}});
        Form_Contas_Disparo disparo(s.core->database(), s.core->recorder(), nullptr, &w);
        disparo.show();
        save(&disparo, "contas_disparo.png");
        for (int age : {20, 75, 130})
            exec(s.db(),
                 "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, DESCRICAO, TIPO, "
                 "DATA, TRATADO, PRIORIDADE) values ('000042', 'PADARIA BOM PÃO LTDA', '1130', "
                 "'001', 'ALARME ROUBO PORTA DA FRENTE', 'ALARME', :d, 0, 1)",
                 {{":d", s.clock.now().addSecs(-age)}});
        w.eventsRemoved(); // the lists read again
        w.pendingForm().show();
        save(&w.pendingForm(), "eventos_pendentes.png");
        w.pendingForm().hide();
    }
    // An account on test, the storm declared, and the audit of what the operators did.
    {
        audit::setOperator("ana");
        const QDateTime now = s.clock.now();
        stationModes::startTest(s.db(), {"42", {3, 5}, now, now.addSecs(5400), "ana"}, nullptr);
        stationModes::startTest(s.db(), {"43", {}, now, now.addSecs(1800), "ana"}, nullptr);
        s.core->currentOperator() = CurrentOperator{"ana", Permissions::Testes};
        Form_Contas_Teste testes(s.core->common(), s.core->currentOperator(), &w);
        testes.show();
        testes.findChild<QLineEdit *>("Edit_Conta")->setText("44");
        save(&testes, "contas_teste.png");
        testes.close();
        stationModes::setStorm(s.db(), true, now, "ana", nullptr);
        w.findChild<StormControl *>()->refresh();
        save(&w, "principal_tempestade.png");
        stationModes::setStorm(s.db(), false, now, "ana", nullptr);
        w.findChild<StormControl *>()->refresh();
        Form_Auditoria auditoria(s.core->common(), s.core->settings(), &w);
        auditoria.show();
        auditoria.search();
        save(&auditoria, "auditoria.png");
        auditoria.close();
        s.core->currentOperator() = CurrentOperator{};
    }

    // The settings dialog on the TCP receiver, with an out-of-range port being typed.
    Form_Configuracoes &f = w.settingsDialog();
    QTimer::singleShot(0, &f, [&] {
        auto *tree = f.findChild<QTreeWidget *>("TreeView1");
        tree->setCurrentItem(f.receiverRoot()->child(0));
        s.core->dm().portMonitor().append(2, "Receptora Porta 2 não encontrada!");
        d.send("@");
        QTest::qWait(200);
        auto *porta = f.findChild<QSpinBox *>("Porta_TCP");
        porta->setFocus();
        porta->selectAll();
        QTest::keyClicks(porta, "70000");
        save(&f, "configuracoes.png");
        QTest::keyClick(porta, Qt::Key_Escape);
        f.Botao_FecharClick();
    });
    f.openDialog();
    Paths::setProgramDir(QString());
    return 0;
}
