#include "support/TestSupport.h"

#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/Dc09Message.h"
#include "core/reception/Dc09Receiver.h"

#include <QDir>
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
    void tick() { tickAndSettle(*core); }
};

// One message of a panel, the console's answer to it, byte for byte, and the event lines it
// queues; at: the station's time when it arrives (a message's timestamp must lie near it).
struct Exchange {
    QByteArray sent;
    QByteArray answer;
    QStringList lines;
    QDateTime at = kInicio;
};

QString line(const char *fields, const char *when = "Dt08/03/26 Tm22:15:00") {
    return QString("Rc01 %1 %2 IdNão Identificado").arg(fields, when);
}

// Shapes real panels send, from public DC-09 receivers' issue threads and test suites (the
// codec's test cites each and says where CRC and length were computed for the test), and the
// events the recorder would refuse: DUH, nothing queued.
QList<Exchange> realShapes() {
    const QDateTime t2021(QDate(2021, 12, 22), QTime(12, 40, 52), Qt::UTC);
    const QDateTime t2019(QDate(2019, 9, 25), QTime(14, 12, 4), Qt::UTC);
    return {
        // A bare "L", the account only in the data block.
        {"\n9F0D001A\"SIA-DCS\"0001L[#9999|NBA2]\r", "\nB95A000C\"ACK\"0001L[]\r",
         {line("Ln0 Ct9999 Pt00 Ce1130 Su002")}},
        {"\nA6CC003B\"SIA-DCS\"1662L0#0000[#0000|Nri0/RP0000]_12:40:52,12-22-2021\r",
         "\n811C0012\"ACK\"1662L0#0000[]\r",
         {line("Ln0 Ct0000 Pt00 Ce1602 Su000", "Dt22/12/21 Tm12:40:52")}, t2021},
        // No account before "|", extended data.
        {"\n87570043\"SIA-DCS\"6002L0#AAA[|Nri1/CL501][M0026B9E4268B]_14:12:04,09-25-2019\r",
         "\n9F330011\"ACK\"6002L0#AAA[]\r",
         {line("Ln0 Ct0AAA Pt01 Ce3401 Su501", "Dt25/09/19 Tm14:12:04")}, t2019},
        // Lower-case hex, echoed as sent; partition "0A" is partition 0.
        {"\n7b64002d\"ADM-CID\"0042Rab12L0c#12ab[#12ab|1130 0a 0bc]\r",
         "\n5BA10018\"ACK\"0042Rab12L0c#12ab[]\r", {line("LnC Ct12AB Pt0A Ce1130 Su0BC")}},
        // Several codes, text holding "/" and "]", extended data of any letter.
        {"\nA4370049\"SIA-DCS\"0003L0#77[#77|Nri3BA1^Sala/Cozinha]^BA2/ri4/FA07][V0123][X-46.6]\r",
         "\n46270010\"ACK\"0003L0#77[]\r",
         {line("Ln0 Ct0077 Pt03 Ce1130 Su001"), line("Ln0 Ct0077 Pt03 Ce1130 Su002"),
          line("Ln0 Ct0077 Pt04 Ce1110 Su007")}},
        // A timestamp cut short: NAK with the station's time, not silence.
        {"\n93F9004A\"ADM-CID\"9876R579BDFL789ABC#12345A[#12345A|1110 00 129]_14:12:04,09-25-201\r",
         "\n0D210025\"NAK\"0000R0L0A0[]_22:15:00,03-08-2026\r", {}},
        // Accounts the registry cannot hold, in the header or only in the data block.
        {"\nBB86002C\"NULL\"0001L#7303658550[]_15:39:38,06-07-2019\r",
         "\n3B410017\"DUH\"0001L#7303658550[]\r", {},
         QDateTime(QDate(2019, 6, 7), QTime(15, 39, 38), Qt::UTC)},
        {"\n41670028\"ADM-CID\"0006R1L1[#12345678|1130 01 015]\r", "\n99A6000F\"DUH\"0006R1L1[]\r", {}},
    };
}

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

    // Real panels' shapes over UDP, answered byte for byte; the CRC as two bytes and the CRC
    // and length counting the <CR> are answered in the same form.
    void realPanelShapes() {
        Central c;
        c.udp();
        Panel p(c.port);
        QList<Exchange> all = realShapes();
        all << Exchange{"\n\x43\x81" "002C\"SIA-DCS\"9832L000000#2511[#2511|Nri01/BB026]\r",
                        "\n\xF1\xC1" "0017\"ACK\"9832L000000#2511[]\r",
                        {line("Ln0 Ct2511 Pt01 Ce1570 Su026")}}
            << Exchange{"\nF19A002B\"ADM-CID\"0056L9999#9999[#9999|1900 00 001]\r",
                        "\nBD350016\"ACK\"0056L9999#9999[]\r", {line("Ln9 Ct9999 Pt00 Ce1900 Su001")}};
        for (const Exchange &x : all) {
            c.clock.set(x.at);
            const qsizetype before = c.fila().size();
            p.send(x.sent);
            QCOMPARE(p.recv(), x.answer);
            QCOMPARE(c.fila().lines().mid(before), x.lines);
        }
        QVERIFY(c.monitor().contains("evento que não pode ser gravado (conta com mais de 6 "
                                     "caracteres: \"12345678\")"));
        const int queued = c.fila().size();
        c.tick();
        QVERIFY(waitFor([&] { return c.eventCount() == queued; }));
        QVERIFY(!QFile::exists(c.core->dataDir() + "/Eventos_Rejeitados.dat"));
    }

    // The same shapes over a TCP connection, one after another on it.
    void realPanelShapesOverTcp() {
        Central c;
        ReceiverRow::tcp(1, c.port, 5, 5).insertInto(c.db());
        c.core->dm().Realizar_Atualizacoes();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, c.port);
        QVERIFY(waitFor([&] { return s.bytesAvailable() > 0; }));
        QCOMPARE(s.readAll(), QByteArray("&"));
        for (const Exchange &x : realShapes()) {
            c.clock.set(x.at);
            const qsizetype before = c.fila().size();
            s.write(x.sent);
            s.flush();
            QByteArray got;
            waitFor([&] {
                got += s.readAll();
                return got.size() >= x.answer.size();
            });
            QCOMPARE(got, x.answer);
            QCOMPARE(c.fila().lines().mid(before), x.lines);
        }
    }

    // An account with a key takes only encrypted messages: a clear alarm, SIA report or link
    // test naming it, in the header or in the data block, gets a NAK and changes nothing.
    void keyedAccountTakesOnlyEncrypted() {
        Central c;
        c.addAccount("001234", "JOAO");
        c.udp();
        QVERIFY(c.core->dc09().keys().save({{"1234", kChave}}));
        exec(c.db(), "update CLIENTES set EVENTO_ATRASADO = 1, ULTIMO_EVENTO = '2020-01-01'");
        Panel p(c.port);
        for (const QByteArray &clear :
             {kAlarme, QByteArray("\n7C3A0024\"SIA-DCS\"0008L0#1234[#1234|Nri1/BA5]\r"),
              QByteArray("\n31220013\"NULL\"0009L0#1234[]\r"),
              QByteArray("\n9983001F\"SIA-DCS\"0010L0[#1234|Nri1/BA5]\r"),
              QByteArray("\nC6F30012\"FOO\"0009L0#1234[]\r")}) {
            p.send(clear);
            QCOMPARE(p.recv(), kNakAgora);
        }
        QVERIFY(c.monitor().contains("conta 1234 tem chave de criptografia: mensagem sem "
                                     "criptografia recusada"));
        QVERIFY(c.fila().isEmpty());
        QCOMPARE(c.accountColumn("ULTIMO_EVENTO", "001234").toDateTime(),
                 QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
        QCOMPARE(c.accountColumn("EVENTO_ATRASADO", "001234").toInt(), 1);
        QCOMPARE(c.core->connectionRegistry().rowCount(), 0);
        // The same account encrypted is taken.
        p.send(kCifrado);
        QVERIFY(p.recv().contains("\"*ACK\"0007R2L3#1234["));
        QCOMPARE(c.fila().size(), 1);
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
        // The answers wait for the whole burst to be read: long on a loaded machine under the
        // sanitizers, hence the wide wait.
        burst(2000);
        p.send(kAlarme);
        QCOMPARE(p.recv(20000), kAck);
        for (int n : {255, 256, 257, 511}) {
            burst(n);
            p.send("\nCBB30013\"NULL\"0004L0#1234[]\r");
            QCOMPARE(p.recv(20000), QByteArray("\n0BD10012\"ACK\"0004L0#1234[]\r"));
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

    // The writer held between the line's write and its fdatasync (the disk cannot be slowed on
    // demand): no ACK until the flush. Then a write the queue file turns away (a folder has
    // taken its name): no ACK, the line is not queued, and the panel's repeat, once the file
    // takes lines again, is no copy of anything queued: it is queued and acknowledged.
    void ackWaitsForTheFlushAndAMessageLostWithAWriteIsNoCopy() {
        Central c;
        c.udp();
        Panel p(c.port);
        c.fila().holdWrites(true);
        p.send(kAlarme);
        QVERIFY(waitFor([&] { return c.arquivoFila().contains(" Su015 "); }));
        QCOMPARE(p.recv(400), QByteArray());
        c.fila().holdWrites(false);
        QCOMPARE(p.recv(), kAck);
        c.tick(); // recorded: the file is replaced, its descriptor closed

        const QString file = c.fila().filePath();
        QVERIFY(QFile::rename(file, file + ".guardado"));
        QVERIFY(QDir().mkdir(file));
        const QByteArray second = Dc09Codec::frame("\"ADM-CID\"0002R1L1#1234[#1234|1130 01 016]");
        p.send(second);
        QCOMPARE(p.recv(800), QByteArray());
        QVERIFY(c.fila().isEmpty());
        QVERIFY(c.monitor().contains("Não foi possível gravar Dados/Eventos_Log.dat: o nome é de uma pasta"));
        QVERIFY(QDir().rmdir(file));
        QVERIFY(QFile::rename(file + ".guardado", file));
        p.send(second);
        const QByteArray ack = p.recv();
        QVERIFY2(ack.startsWith('\n') && ack.contains("\"ACK\"0002"), ack.constData());
        QCOMPARE(c.fila().size(), 1);
        QVERIFY(c.fila().head().contains(" Su016 "));
    }
};

QTEST_GUILESS_MAIN(TestDc09Receiver)
#include "test_dc09receiver.moc"
