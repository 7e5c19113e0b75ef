#include "support/TestSupport.h"

#include "console/ConsoleCore.h"
#include "reception/ConnectionRegistry.h"
#include "reception/Data_Modulo2.h"
#include "reception/Dc09Message.h"
#include "reception/Dc09Receiver.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Sunday 8 March 2026, 22:15:00 UTC: the time of the messages below.
const QDateTime kInicio(QDate(2026, 3, 8), QTime(22, 15, 0), Qt::UTC);

// Burglary, partition 01, zone 015 of account 1234, as ADM-CID: sequence 0001, receiver 1,
// line 1; the same event a format "5" frame "5011 181234E13001015" gives.
const QByteArray kAlarme = "\nE6BA0029\"ADM-CID\"0001R1L1#1234[#1234|1130 01 015]\r";
const QByteArray kAck = "\nD2770014\"ACK\"0001R1L1#1234[]\r";
const QByteArray kNakAgora = "\n0D210025\"NAK\"0000R0L0A0[]_22:15:00,03-08-2026\r";
// The key of the encrypted message below (made with openssl, apart from this code).
const QString kChave = "000102030405060708090A0B0C0D0E0F";
const QByteArray kCifrado =
    "\n5E350078\"*ADM-CID\"0007R2L3#1234[1BAC7E37F18E5C46289F442A53E8642AC6ED80905695F4BB"
    "CD7D6CD13DA017A983BF21155715B56BD9E6FEA829539B4D\r";

// A panel reporting over UDP on loopback.
struct Panel {
    QUdpSocket s;
    quint16 port;
    explicit Panel(quint16 p)
        : port(p) {
        s.bind(QHostAddress::LocalHost, 0);
    }
    void send(const QByteArray &b) { s.writeDatagram(b, QHostAddress::LocalHost, port); }
    // The console's answer, or nothing within ms.
    QByteArray recv(int ms = 3000) {
        waitFor([&] { return s.hasPendingDatagrams(); }, ms);
        return s.hasPendingDatagrams() ? s.receiveDatagram().data() : QByteArray();
    }
};

struct Central : Station {
    quint16 port = freePort();
    Central()
        : Station(kInicio) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
    }
    void udp() {
        ReceiverRow(1).name("DC09").mode(2).active(1).udpPort(port).replyDelay(5).keepAlive(5)
            .insertInto(db());
        core->dm().Realizar_Atualizacoes();
    }
    EventQueue &fila() { return core->eventQueue(); }
    QString arquivoFila() {
        QFile f(core->dataDir() + "/Eventos_Log.dat");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString monitor() { return core->dm().portMonitor().lines().join('\n'); }
    void tick() { core->Timer_AtualizarTimer(); }
};

} // namespace

class TestDc09Receiver : public QObject {
    Q_OBJECT
private slots:
    // A burglary alarm over UDP: acknowledged once its line is in the queue file, the same
    // line a format "5" frame gives, recorded once however often it is repeated; the other
    // answers and silences of the receiver, and the sender's row among the devices.
    void udpTranscript() {
        Central c;
        c.addAccount("001234", "JOAO");
        c.addCode("1130", "DISPARO", 2);
        c.udp();
        QVERIFY(c.monitor().contains(QString("Receiver 1: DC-09 na porta UDP %1").arg(c.port)));
        Panel p(c.port);

        p.send(kAlarme);
        QCOMPARE(p.recv(), kAck);
        const QString linha = c.core->decoder().Decodifica_Eventos("5011 181234E13001015");
        QCOMPARE(linha, "Rc01 Ln1 Ct1234 Pt01 Ce1130 Su015 Dt08/03/26 Tm22:15:00 IdNão Identificado");
        QCOMPARE(c.fila().lines(), QStringList{linha});
        QVERIFY(c.arquivoFila().contains(linha)); // on disk before the ACK was read
        p.send(kAlarme);
        QCOMPARE(p.recv(), kAck);
        QCOMPARE(c.fila().size(), 1);
        c.tick();
        QCOMPARE(c.eventCount(), 1);
        QCOMPARE(c.last("CONTA").toString(), "001234");
        QCOMPARE(c.last("CLIENTE").toString(), "JOAO");
        QCOMPARE(c.last("CODIGO_ALARME").toString(), "1130");
        QCOMPARE(c.last("ARGUMENTO").toString(), "015");
        QCOMPARE(c.last("NUMERO_PARTICAO").toInt(), 1);
        QCOMPARE(c.last("TIPO").toString(), "ALARME");
        p.send(kAlarme); // repeated after it was recorded: still once
        QCOMPARE(p.recv(), kAck);
        c.tick();
        QCOMPARE(c.eventCount(), 1);

        // A wrong CRC, a wrong length and garbage get nothing, one monitor line each.
        QByteArray crc = kAlarme;
        crc[1] = 'F';
        p.send(crc);
        p.send(QByteArray(kAlarme).replace("0029", "0028"));
        p.send("hello");
        QCOMPARE(p.recv(300), QByteArray());
        QVERIFY(c.monitor().contains("(CRC inválido)"));
        QVERIFY(c.monitor().contains("(comprimento inválido)"));
        QVERIFY(c.monitor().contains(":hello (não é DC-09)"));

        // Five minutes old: NAK with the station's time; an unknown token: DUH; an account
        // longer than the registry's: DUH. None is queued.
        p.send("\nA1C7003D\"ADM-CID\"0006R1L1#1234[#1234|1130 01 015]_22:10:00,03-08-2026\r");
        QCOMPARE(p.recv(), kNakAgora);
        p.send("\nC6F30012\"FOO\"0009L0#1234[]\r");
        QCOMPARE(p.recv(), QByteArray("\nCF9E0012\"DUH\"0009L0#1234[]\r"));
        p.send("\nE756002D\"ADM-CID\"0011L0#9876543[#9876543|1130 01 015]\r");
        QCOMPARE(p.recv(), QByteArray("\n99760015\"DUH\"0011L0#9876543[]\r"));
        QVERIFY(c.fila().isEmpty());

        // "NULL": the account is alive, no event.
        c.clock.set(kInicio.addSecs(10));
        exec(c.db(), "update CLIENTES set EVENTO_ATRASADO = 1, ULTIMO_EVENTO = '2020-01-01'");
        p.send("\nCBB30013\"NULL\"0004L0#1234[]\r");
        QCOMPARE(p.recv(), QByteArray("\n0BD10012\"ACK\"0004L0#1234[]\r"));
        QCOMPARE(c.accountColumn("ULTIMO_EVENTO", "001234").toDateTime(), c.clock.now().toLocalTime());
        QCOMPARE(c.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 0);
        QVERIFY(c.fila().isEmpty());
        c.tick();
        QCOMPARE(c.eventCount(), 1);

        // The sender is one device row by address and account, dropped when silent.
        ConnectionRegistry &reg = c.core->connectionRegistry();
        QCOMPARE(reg.rowCount(), 1);
        QCOMPARE(reg.row(0).conta, "1234");
        QCOMPARE(reg.row(0).remoteIp, "127.0.0.1");
        QCOMPARE(reg.row(0).lastPacket, "0004");
        QCOMPARE(reg.row(0).lastEvent, kInicio);
        c.clock.set(kInicio.addSecs(10 + 4 * 60 + 59));
        reg.expireSilentConnections(c.clock.now());
        QCOMPARE(reg.rowCount(), 1);
        c.clock.set(kInicio.addSecs(10 + 5 * 60 + 1));
        reg.expireSilentConnections(c.clock.now());
        QCOMPARE(reg.rowCount(), 0);
    }

    // SIA-DCS: one event per code, a code without a Contact ID kept by its letters and left
    // pending; encrypted ADM-CID with the right key, then with a wrong one.
    void siaAndEncryption() {
        Central c;
        c.addCode("1130", "DISPARO", 2);
        c.addCode("1401", "DESARME", 0);
        c.udp();
        Panel p(c.port);
        p.send("\nA623002F\"SIA-DCS\"0002L0#5678[#5678|Nri2/BA004/OP3/XQ12]\r");
        QCOMPARE(p.recv(), QByteArray("\n63000012\"ACK\"0002L0#5678[]\r"));
        QStringList esperado;
        for (const char *campos : {"Pt02 Ce1130 Su004", "Pt02 Ce1401 Su003", "Pt02 CeXQ Su012"})
            esperado << QString("Rc01 Ln0 Ct5678 %1 Dt08/03/26 Tm22:15:00 IdNão Identificado").arg(campos);
        QCOMPARE(c.fila().lines(), esperado);
        c.tick();
        QVERIFY(waitFor([&] { return c.eventCount() == 3; }));
        QCOMPARE(c.last("CODIGO_ALARME").toString(), "XQ");
        QCOMPARE(c.last("TRATADO").toInt(), 0);

        QVERIFY(c.core->dc09().keys().save({{"1234", kChave.toLower()}}));
        p.send(kCifrado);
        const QByteArray ack = p.recv();
        QVERIFY(ack.startsWith('\n') && ack.endsWith('\r'));
        const QByteArray body = ack.mid(9, ack.size() - 10);
        QCOMPARE(quint16(ack.mid(1, 4).toInt(nullptr, 16)), Dc09Codec::crc16(body));
        QCOMPARE(ack.mid(5, 4).toInt(nullptr, 16), body.size());
        QVERIFY(body.startsWith("\"*ACK\"0007R2L3#1234["));
        const QByteArray plain = Dc09Codec::aesCbc(QByteArray::fromHex(body.mid(body.indexOf('[') + 1)),
                                                   Dc09Codec::keyFromHex(kChave), false);
        QVERIFY(plain.endsWith("|]_22:15:00,03-08-2026"));
        QCOMPARE(c.fila().lines(),
                 QStringList{"Rc01 Ln3 Ct1234 Pt01 Ce1130 Su015 Dt08/03/26 Tm22:15:00 IdNão Identificado"});

        // Another key: the message cannot be read, NAK, nothing more queued; the key itself
        // is in its table and nowhere in the port monitor.
        QVERIFY(c.core->dc09().keys().save({{"001234", QString(32, 'A')}}));
        QCOMPARE(scalar(c.db(), "select AES_KEY from DC09_KEYS where ACCOUNT = '001234'").toString(),
                 QString(32, 'A'));
        p.send(kCifrado);
        QCOMPARE(p.recv(), kNakAgora);
        QCOMPARE(c.fila().size(), 1);
        QVERIFY(!c.monitor().contains(kChave) && !c.monitor().contains(QString(32, 'A')));
        QVERIFY(c.monitor().contains("(criptografia ilegível)"));
        QVERIFY(!c.core->dc09().keys().save({{"1234", "0102"}}));
        QCOMPARE(c.core->dc09().keys().entries().size(), 1);
    }

    // Bursts of datagrams that are no DC-09 at all (a port scan, a misdirected sender) are
    // read to the last one, and the port goes on being read: the honest messages after each
    // get their ACK and are recorded. Bursts of several sizes, as a flood is read in passes
    // and its last pass may be short or full.
    void burstOfDatagrams() {
        Central c;
        c.addAccount("001234", "JOAO");
        c.udp();
        Panel p(c.port);
        QRandomGenerator rng(21);
        int sent = 0;
        auto burst = [&](int n) {
            for (int i = 0; i < n; ++i) {
                QByteArray junk(i % 3 ? int(rng.bounded(1, 64)) : 0, '\0');
                for (char &b : junk)
                    b = char(rng.bounded(256));
                p.send(junk);
            }
            sent += n;
        };
        burst(2000);
        p.send(kAlarme);
        QCOMPARE(p.recv(), kAck);
        for (int n : {255, 256, 257, 511}) {
            burst(n);
            p.send("\nCBB30013\"NULL\"0004L0#1234[]\r");
            QCOMPARE(p.recv(), QByteArray("\n0BD10012\"ACK\"0004L0#1234[]\r"));
        }
        // One monitor line for each datagram: none was lost in the kernel either.
        QCOMPARE(c.core->dm().portMonitor().lines().size(), 1 + sent + 5);
        c.tick();
        QCOMPARE(c.eventCount(), 1);
        QCOMPARE(c.last("CONTA").toString(), "001234");
        QCOMPARE(c.last("CODIGO_ALARME").toString(), "1130");
    }

    // DC-09 on a TCP/IP slot beside the devices of the device link: a message split over two
    // reads is taken whole, acknowledged on its connection, and names its row's account.
    void overTcp() {
        Central c;
        ReceiverRow::tcp(1, c.port, 5, 5).insertInto(c.db());
        c.core->dm().Realizar_Atualizacoes();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, c.port);
        QVERIFY(waitFor([&] { return s.bytesAvailable() > 0; }));
        QCOMPARE(s.readAll(), QByteArray("&"));
        s.write(kAlarme.left(20));
        s.flush();
        waitFor([] { return false; }, 50);
        s.write(kAlarme.mid(20) + "\nCBB30013\"NULL\"0004L0#1234[]\r");
        s.flush();
        QByteArray got;
        QVERIFY(waitFor([&] {
            got += s.readAll();
            return got.size() >= kAck.size() + 20;
        }));
        QCOMPARE(got, kAck + "\n0BD10012\"ACK\"0004L0#1234[]\r");
        QCOMPARE(c.fila().lines(),
                 QStringList{"Rc01 Ln1 Ct1234 Pt01 Ce1130 Su015 Dt08/03/26 Tm22:15:00 IdNão Identificado"});
        ConnectionRegistry &reg = c.core->connectionRegistry();
        QCOMPARE(reg.rowCount(), 1);
        QCOMPARE(reg.row(0).conta, "1234");
        QCOMPARE(reg.row(0).lastPacket, "0004");
    }
};

QTEST_GUILESS_MAIN(TestDc09Receiver)
#include "test_dc09receiver.moc"
