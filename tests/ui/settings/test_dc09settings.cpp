#include "support/TestSupport.h"

#include "core/reception/Dc09Keys.h"
#include "core/reception/Dc09Receiver.h"
#include "ui/settings/Configuracoes.h"
#include "ui/settings/Dc09KeysDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <QUdpSocket>

using namespace tulmo;
using namespace tulmo::test;

class TestDc09Settings : public QObject {
    Q_OBJECT
private slots:
    // A "UDP/IP" receiver applied in the settings dialog answers DC-09 on its port; its
    // keep-alive time sits in the group of its mode; the keys dialog stores only well-formed
    // keys and reception uses them at once.
    void udpReceiverAndKeys() {
        Station s(QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0), Qt::UTC));
        mapPort(s.core->dataDir(), 1, s.dir.path() + "/sem-porta");
        ReceiverRow(1).name("Painéis IP").mode(1).active(0).tcpPort(0).udpPort(0).insertInto(s.db());
        Form_Configuracoes f(s.core->common(), s.core->settings(), s.core->dm(), *s.core,
                             s.core->dc09().keys(), s.core->sound(), s.core->dataDir());
        f.prepareOpen();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        auto *tree = f.findChild<QTreeWidget *>("TreeView1");
        tree->setCurrentItem(f.receiverRoot()->child(0));
        auto *keepAlive = f.findChild<QSpinBox *>("Spin_Tempo_KeepAlive");
        QVERIFY(f.findChild<QGroupBox *>("Grupo_TCP")->isAncestorOf(keepAlive));
        f.findChild<QComboBox *>("Combo_Modo_Comunicacao")->setCurrentIndex(2);
        QVERIFY(f.findChild<QGroupBox *>("Grupo_UDP")->isAncestorOf(keepAlive));
        QTRY_VERIFY(keepAlive->isVisible()); // a moved widget shows on the next pass
        const quint16 port = freePort();
        f.findChild<QSpinBox *>("PORTA_UDP")->setValue(port);
        keepAlive->setValue(7);
        f.findChild<QCheckBox *>("Check_Receiver_Ativo")->setChecked(true);
        f.Botao_AplicarClick();
        QCOMPARE(scalar(s.db(), "select TEMPO_KEEPALIVE from RECEIVER").toInt(), 7);
        QCOMPARE(scalar(s.db(), "select PORTA_UDP from RECEIVER").toInt(), int(port));

        QUdpSocket panel;
        panel.bind(QHostAddress::LocalHost, 0);
        panel.writeDatagram("\nCBB30013\"NULL\"0004L0#1234[]\r", QHostAddress::LocalHost, port);
        QVERIFY(waitFor([&] { return panel.hasPendingDatagrams(); }));
        QCOMPARE(panel.receiveDatagram().data(), QByteArray("\n0BD10012\"ACK\"0004L0#1234[]\r"));

        f.findChild<QPushButton *>("Botao_Chaves_DC09")->click();
        auto *keys = f.findChild<Dc09KeysDialog *>("Dc09KeysDialog");
        QVERIFY(keys && keys->isVisible());
        QTableWidget *grid = keys->table();
        keys->addRow();
        grid->item(0, 0)->setText("1234");
        grid->item(0, 1)->setText("0011");
        keys->findChild<QPushButton *>("Botao_Salvar_Chaves")->click();
        QVERIFY(keys->isVisible());
        QCOMPARE(s.prompt.shown.size(), 1);
        QVERIFY(s.prompt.shown[0].text.startsWith("Houve um erro ao gravar as chaves DC-09."));
        QCOMPARE(s.prompt.shown[0].caption, "ERRO");
        QVERIFY(s.core->dc09().keys().keyFor("1234").isEmpty());
        grid->item(0, 1)->setText("000102030405060708090a0b0c0d0e0f");
        keys->addRow(); // left blank: not a key
        keys->findChild<QPushButton *>("Botao_Salvar_Chaves")->click();
        QVERIFY(!keys->isVisible());
        QCOMPARE(s.core->dc09().keys().keyFor("001234"),
                 QByteArray::fromHex("000102030405060708090A0B0C0D0E0F"));
        QCOMPARE(scalar(s.db(), "select count(*) from DC09_KEYS").toInt(), 1);
        // Opened again, the dialog shows what is stored.
        f.findChild<QPushButton *>("Botao_Chaves_DC09")->click();
        QTRY_VERIFY(f.findChildren<Dc09KeysDialog *>().size() == 1);
        grid = f.findChild<Dc09KeysDialog *>()->table();
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->item(0, 0)->text(), "1234");
        // The key is a secret: shown as dots, one per digit, until its field is edited.
        auto *mascara = qobject_cast<QStyledItemDelegate *>(grid->itemDelegateForColumn(1));
        QVERIFY(mascara);
        const QString mostrado =
            mascara->displayText(grid->item(0, 1)->data(Qt::DisplayRole), QLocale());
        QCOMPARE(mostrado, QString(32, QChar(0x2022)));
        grid->editItem(grid->item(0, 1));
        auto *campo = grid->viewport()->findChild<QLineEdit *>();
        QVERIFY(campo && campo->isVisible());
        QCOMPARE(campo->text().toUpper(), QString("000102030405060708090A0B0C0D0E0F"));
    }
};

QTEST_MAIN(TestDc09Settings)
#include "test_dc09settings.moc"
