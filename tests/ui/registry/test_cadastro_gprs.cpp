#include "support/TestSupport.h"

#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "ui/registry/Cadastro_GPRS.h"
#include "core/registry/GprsTableModel.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpSocket>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kStart(QDate(2026, 3, 9), QTime(10, 0, 0));
const QColor kYellow(0xFF, 0xFF, 0x00), kRed(0xFF, 0x00, 0x00), kLime(0x00, 0xFF, 0x00);

// A module on loopback that identifies itself.
struct Device {
    QTcpSocket s;
    bool connectAndIdentify(quint16 port, const QByteArray &imei) {
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!waitFor([&] { return s.state() == QAbstractSocket::ConnectedState; })) return false;
        s.write("&01" + imei + "0042"); // device code, identifier, account
        s.flush();
        return true;
    }
};

struct Registry : Station {
    QWidget main;
    Form_Cadastro_GPRS f{core->common(), core->deviceLink().gprsDirectory(),
                         core->connectionRegistry(), &main};
    quint16 port = freePort();

    Registry()
        : Station(kStart) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        ReceiverRow::tcp(1, port, 5, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
    }
    ConnectionRegistry &devices() { return core->connectionRegistry(); }
    GprsTableModel &t() { return f.table(); }
    int rowOf(const QString &imei) {
        for (int r = 0; r < t().rowCount(); ++r)
            if (t().module(r).imei == imei) return r;
        return -1;
    }
    bool edit(int r, int col, const QString &v) { return t().setData(t().index(r, col), v); }
    void click(const char *b) {
        QTest::mouseClick(f.findChild<QPushButton *>(QLatin1String(b)), Qt::LeftButton);
    }
    QVariant column(const QString &col, const QString &imei) {
        return scalar(db(), QString("select %1 from GPRS where IMEI = :i").arg(col),
                      {{":i", imei}});
    }
    // The module connects again, identifies, and takes the console's answer TEMPO_RESPOSTA
    // later (a new connection: its silence is not due when the clock has moved on).
    QByteArray answer(const QByteArray &imei) {
        Device d;
        d.s.connectToHost(QHostAddress::LocalHost, port);
        if (!waitFor([&] { return d.s.state() == QAbstractSocket::ConnectedState; }))
            return "sem conexão";
        QSignalSpy spy(&core->dm().portMonitor(), &LineLog::lineAdded);
        d.s.write("&01" + imei + "0042");
        d.s.flush();
        if (!waitFor([&] { return spy.count() >= 1; })) return "sem quadro";
        clock.advanceSecs(5);
        core->Timer_AtualizarTimer();
        QByteArray got;
        waitFor(
            [&] {
                got += d.s.readAll();
                return got.size() > 1; // after the console's "&"
            },
            500);
        return got;
    }
    bool identified(const QString &imei) {
        return waitFor([&] {
            for (const ConnectionRegistry::Row &r : devices().rows())
                if (r.imei == imei) return true;
            return false;
        });
    }
};

} // namespace

class TestCadastroGprs : public QObject {
    Q_OBJECT
private slots:
    void reviewingAModuleTheDeviceLinkRegistered();
    void newRowsGetDefaultsAndBadInputIsRefused();
    void deletingAConnectedModuleClosesItsConnection();
};

void TestCadastroGprs::reviewingAModuleTheDeviceLinkRegistered() {
    Registry s;
    s.f.show();
    QCOMPARE(s.f.windowModality(), Qt::WindowModal);
    QCOMPARE(s.t().rowCount(), 0);
    // Registered by the device link while the window was open: seen on the next show.
    Device d;
    QVERIFY(d.connectAndIdentify(s.port, "654321"));
    QVERIFY(s.identified("654321"));
    s.f.hide();
    s.f.show();
    const int r = s.rowOf("654321");
    QVERIFY(r >= 0);
    QCOMPARE(s.t().module(r).status, QString("P"));
    QCOMPARE(s.f.rowColor(r), kYellow);

    // Saved unchanged: reviewed, still blocked.
    s.clock.advanceSecs(3600);
    s.f.select(r);
    s.click("Botao_Gravar");
    QCOMPARE(s.column("STATUS", "654321").toString(), QString("A"));
    QCOMPARE(s.column("LISTA_NEGRA", "654321").toInt(), 1);
    QCOMPARE(s.column("DATA", "654321").toDateTime(), kStart); // registration time kept
    QCOMPARE(s.f.rowColor(r), kRed);
    // The module's next identification is answered as the row now says.
    QCOMPARE(s.answer("654321"), QByteArray("&-"));
    // Allowed.
    QVERIFY(s.edit(r, GprsTableModel::ColListaNegra, "0"));
    s.click("Botao_Gravar");
    QCOMPARE(s.column("LISTA_NEGRA", "654321").toInt(), 0);
    QCOMPARE(s.f.rowColor(r), kLime);
    QCOMPARE(s.answer("654321"), QByteArray("&+"));
    // STATUS and DATA are the console's own.
    QVERIFY(!s.edit(r, GprsTableModel::ColStatus, "P"));
    QVERIFY(!s.edit(r, GprsTableModel::ColData, "01/01/2020 00:00:00"));
}

void TestCadastroGprs::newRowsGetDefaultsAndBadInputIsRefused() {
    Registry s;
    GprsRow("111111").account("0001").status("A").blocked(1).password("1234").insertInto(s.db());
    s.f.show();
    s.click("Botao_Incluir");
    const int r = s.f.currentRow();
    QCOMPARE(r, 1);
    // No identifier: told, nothing written.
    s.click("Botao_Gravar");
    QCOMPARE(s.prompt.shown.last().text, QString("Informe o IMEI do módulo."));
    QCOMPARE(scalar(s.db(), "select count(*) from GPRS").toInt(), 1);
    // An identifier taken already.
    QVERIFY(s.edit(r, GprsTableModel::ColImei, "111111"));
    s.click("Botao_Gravar");
    QCOMPARE(s.prompt.shown.last().text, QString("O IMEI 111111 já está cadastrado."));
    QCOMPARE(s.column("SENHA_ACESSO", "111111").toString(), QString("1234"));
    // A block flag that is neither 0 nor 1.
    QVERIFY(s.edit(r, GprsTableModel::ColImei, "222222"));
    QVERIFY(s.edit(r, GprsTableModel::ColListaNegra, "sim"));
    s.click("Botao_Gravar");
    QCOMPARE(s.prompt.shown.last().text,
             QString("LISTA NEGRA deve ser 0 (liberado) ou 1 (bloqueado)."));
    QVERIFY(!s.column("IMEI", "222222").isValid());
    QVERIFY(s.t().isDirty(r)); // the edits wait in the row

    // Closing with a row that cannot be saved keeps the window open with the edits.
    s.f.reject();
    QVERIFY(s.f.isVisible());
    QCOMPARE(s.t().module(r).listaNegra, QString("sim"));

    QVERIFY(s.edit(r, GprsTableModel::ColListaNegra, ""));
    const int shown = int(s.prompt.shown.size());
    s.f.select(0); // leaving the row saves it
    QCOMPARE(s.prompt.shown.size(), shown);
    QCOMPARE(s.column("STATUS", "222222").toString(), QString("A"));
    QCOMPARE(s.column("LISTA_NEGRA", "222222").toInt(), 0);
    QCOMPARE(s.column("SENHA_ACESSO", "222222").toString(), QString("60418273"));
    QCOMPARE(s.column("DATA", "222222").toDateTime(), kStart);
    QCOMPARE(s.f.rowColor(r), kLime);
    // A password emptied on an existing row gets the default too, saved on closing.
    QVERIFY(s.edit(0, GprsTableModel::ColSenha, ""));
    s.f.reject();
    QVERIFY(!s.f.isVisible());
    QCOMPARE(s.column("SENHA_ACESSO", "111111").toString(), QString("60418273"));
    // A new row left untouched is dropped, not refused.
    s.f.show();
    s.click("Botao_Incluir");
    const int shownBefore = int(s.prompt.shown.size());
    s.f.select(0);
    QCOMPARE(s.t().rowCount(), 2);
    QCOMPARE(s.prompt.shown.size(), shownBefore);
}

void TestCadastroGprs::deletingAConnectedModuleClosesItsConnection() {
    Registry s;
    GprsRow("333333").account("0003").status("A").blocked(0).insertInto(s.db());
    Device a, b;
    QVERIFY(a.connectAndIdentify(s.port, "654321"));
    QVERIFY(s.identified("654321"));
    QVERIFY(b.connectAndIdentify(s.port, "777777"));
    QVERIFY(s.identified("777777"));
    QCOMPARE(s.devices().rowCount(), 2);
    s.f.show();

    // Not connected: only the row goes.
    s.f.select(s.rowOf("333333"));
    s.prompt.answers = {true};
    s.click("Botao_Excluir");
    QVERIFY(!s.column("IMEI", "333333").isValid());
    QCOMPARE(s.devices().rowCount(), 2);

    // "No" keeps everything.
    s.f.select(s.rowOf("654321"));
    s.prompt.answers = {false};
    s.click("Botao_Excluir");
    QVERIFY(s.column("IMEI", "654321").isValid());
    QCOMPARE(s.devices().rowCount(), 2);

    QSignalSpy closed(&a.s, &QTcpSocket::disconnected);
    s.prompt.answers = {true};
    s.click("Botao_Excluir");
    QVERIFY(!s.column("IMEI", "654321").isValid());
    QCOMPARE(s.rowOf("654321"), -1);
    QCOMPARE(s.devices().rowCount(), 1);
    QCOMPARE(s.devices().row(0).imei, QString("777777"));
    QCOMPARE(s.devices().row(0).socketIndex, 0); // renumbered
    // The device sees its connection closed; the other one keeps its own.
    QVERIFY(waitFor([&] { return closed.size() == 1; }));
    QCOMPARE(b.s.state(), QAbstractSocket::ConnectedState);
    QVERIFY(s.devices().row(0).socket);

    // A deleted module is unknown at its next identification: registered again, as pending.
    Device c;
    QVERIFY(c.connectAndIdentify(s.port, "333333"));
    QVERIFY(s.identified("333333"));
    QCOMPARE(s.column("STATUS", "333333").toString(), QString("P"));
}

QTEST_MAIN(TestCadastroGprs)
#include "test_cadastro_gprs.moc"
