#include "reception/Dc09Events.h"
#include "reception/Dc09Message.h"

#include <QTest>

using namespace tulmo;

namespace {

using S = Dc09Codec::Status;

const QByteArray kKey128 = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F");
const QDateTime kStation(QDate(2026, 3, 8), QTime(22, 15, 0), Qt::UTC);

S decode(const QByteArray &frame, Dc09Message *m, const QByteArray &key = QByteArray()) {
    return Dc09Codec::decode(frame, [key](const QString &) { return key; }, m);
}

} // namespace

class TestDc09Message : public QObject {
    Q_OBJECT
private slots:
    // Messages published with public DC-09 implementations and in their descriptions: CRC
    // and length are verified, and the fields read back. A single changed character in the
    // CRC, the length or the body is turned away.
    void publishedMessages() {
        Dc09Message m;
        QCOMPARE(decode("\n96ED0016\"SIA-DCS\"0001L0#1234[]\r", &m), S::Ok);
        QCOMPARE(m.token, "SIA-DCS");
        QCOMPARE(m.sequence, "0001");
        QVERIFY(m.receiver.isNull());
        QCOMPARE(m.linePrefix, "0");
        QCOMPARE(m.account, "1234");
        QCOMPARE(m.data, "");

        QCOMPARE(decode("\nF4D20029\"SIA-DCS\"0001RF3L77#1234[#1234|NRR|Atest]\r", &m), S::Ok);
        QCOMPARE(m.receiver, "F3");
        QCOMPARE(m.linePrefix, "77");
        QCOMPARE(m.data, "#1234|NRR|Atest");

        // The CRC in lower case is the same CRC.
        QCOMPARE(decode("\n3bac0029\"SIA-DCS\"0002#0123[#0123|Nti20:50:26RP99]\r", &m), S::Ok);
        QCOMPARE(m.account, "0123");
        QCOMPARE(Dc09Events::fromSia(m.data).size(), 1);
        QCOMPARE(Dc09Events::fromSia(m.data).first().codigo, "1602");

        // A receiver's NAK read as a message: CRC and length hold, its "A0" names no account.
        QCOMPARE(decode("\nE4410025\"NAK\"0000R0L0A0[]_16:20:01,09-24-2025\r", &m), S::BadHeader);

        const QByteArray good =
            "\nA1C0003D\"ADM-CID\"0001R1L1#1234[#1234|1130 01 015]_22:15:00,03-08-2026\r";
        QCOMPARE(decode(good, &m), S::Ok);
        QCOMPARE(m.timestamp, kStation);
        QCOMPARE(m.data, "#1234|1130 01 015");
        QByteArray crc = good, len = good, body = good, cut = good;
        crc[2] = 'D';
        len[8] = 'C';
        body[40] = '2';
        cut.chop(5);
        cut += '\r';
        QCOMPARE(decode(crc, &m), S::BadCrc);
        QCOMPARE(decode(len, &m), S::BadLength);
        QCOMPARE(decode(body, &m), S::BadCrc);
        QCOMPARE(decode(cut, &m), S::BadLength);
        QCOMPARE(decode(good.chopped(1), &m), S::NotDc09);
        QCOMPARE(decode("5011 181234E13001015\x14", &m), S::NotDc09);
        QCOMPARE(decode(Dc09Codec::frame("\"ADM-CID\"12#1234[]"), &m), S::BadHeader);
        QCOMPARE(decode(Dc09Codec::frame("\"ADM-CID\"0001R#1234[]"), &m), S::BadHeader);
        QCOMPARE(decode(Dc09Codec::frame("\"ADM-CID\"0001#1234[1130]_99:00:00,01-01-2026"), &m),
                 S::BadData);
        QCOMPARE(decode(Dc09Codec::frame("\"ADM-CID\"0001#1234[1130]x"), &m), S::BadData);
    }

    // An encrypted message made apart from this code (openssl enc -aes-128-cbc, zero IV, no
    // padding) over pad, "|", data, "]" and timestamp.
    void encryptedMessages() {
        const QByteArray frame =
            "\n5E350078\"*ADM-CID\"0007R2L3#1234[1BAC7E37F18E5C46289F442A53E8642AC6ED80905695F4BB"
            "CD7D6CD13DA017A983BF21155715B56BD9E6FEA829539B4D\r";
        Dc09Message m;
        QCOMPARE(decode(frame, &m, kKey128), S::Ok);
        QVERIFY(m.encrypted);
        QCOMPARE(m.token, "ADM-CID");
        QCOMPARE(m.receiver, "2");
        QCOMPARE(m.linePrefix, "3");
        QCOMPARE(m.data, "#1234|1130 01 015");
        QCOMPARE(m.timestamp, kStation);
        QCOMPARE(decode(frame, &m), S::NoKey);
        QCOMPARE(decode(frame, &m, QByteArray(16, 'k')), S::Undecryptable);

        // 192- and 256-bit keys, extended data; the ACK is encrypted with the station's time.
        for (const QByteArray &key : {QByteArray(24, '\x11'), QByteArray(32, '\x7f')}) {
            Dc09Message out;
            out.token = "SIA-DCS";
            out.sequence = "0042";
            out.account = "ABC123";
            out.data = "#ABC123|Nri1/BA01";
            out.extended = QStringList{"X-46.6333", "Y-23.5505"};
            out.timestamp = kStation;
            QCOMPARE(decode(Dc09Codec::build(out, key), &m, key), S::Ok);
            QCOMPARE(m.data, out.data);
            QCOMPARE(m.extended, out.extended);
            QCOMPARE(m.timestamp, kStation);
            out.timestamp = QDateTime();
            QCOMPARE(decode(Dc09Codec::build(out, key), &m, key), S::NoTimestamp);

            const QByteArray ack = Dc09Codec::ack(m, key, kStation.addSecs(3));
            QVERIFY(ack.startsWith('\n') && ack.endsWith('\r'));
            const QByteArray body = ack.mid(9, ack.size() - 10);
            QCOMPARE(ack.mid(5, 4).toInt(nullptr, 16), body.size());
            QCOMPARE(quint16(ack.mid(1, 4).toInt(nullptr, 16)), Dc09Codec::crc16(body));
            QVERIFY(body.startsWith("\"*ACK\"0042#ABC123["));
            const QByteArray plain =
                Dc09Codec::aesCbc(QByteArray::fromHex(body.mid(body.indexOf('[') + 1)), key, false);
            QVERIFY(plain.endsWith("|]_22:15:03,03-08-2026"));
        }
        QVERIFY(Dc09Codec::keyFromHex("000102030405060708090a0b0c0d0e0f") == kKey128);
        QVERIFY(Dc09Codec::keyFromHex("0001").isEmpty());
        QVERIFY(Dc09Codec::keyFromHex(QString(32, 'G')).isEmpty());
    }

    // What the console answers, byte for byte; the timestamp window is +20 s / -40 s.
    void responses() {
        Dc09Message m;
        QCOMPARE(decode("\nE6BA0029\"ADM-CID\"0001R1L1#1234[#1234|1130 01 015]\r", &m), S::Ok);
        QCOMPARE(Dc09Codec::ack(m, {}, kStation), QByteArray("\nD2770014\"ACK\"0001R1L1#1234[]\r"));
        QCOMPARE(Dc09Codec::nak(kStation.addSecs(-300)),
                 QByteArray("\n0EE40025\"NAK\"0000R0L0A0[]_22:10:00,03-08-2026\r"));
        QCOMPARE(decode("\nC6F30012\"FOO\"0009L0#1234[]\r", &m), S::Unsupported);
        QCOMPARE(Dc09Codec::duh(m), QByteArray("\nCF9E0012\"DUH\"0009L0#1234[]\r"));

        QVERIFY(Dc09Codec::withinWindow(kStation.addSecs(20), kStation));
        QVERIFY(!Dc09Codec::withinWindow(kStation.addSecs(21), kStation));
        QVERIFY(Dc09Codec::withinWindow(kStation.addSecs(-40), kStation));
        QVERIFY(!Dc09Codec::withinWindow(kStation.addSecs(-41), kStation));
    }

    // Contact ID data and SIA codes become the fields of a format "5" frame.
    void eventsOfTheData() {
        auto one = [](const QList<Dc09Event> &l) {
            QStringList s;
            for (const Dc09Event &e : l)
                s << e.codigo + ' ' + e.particao + ' ' + e.zona;
            return s.join(',');
        };
        QCOMPARE(one(Dc09Events::fromContactId("#1234|1130 01 015")), "1130 01 015");
        QCOMPARE(one(Dc09Events::fromContactId("3401 02 007")), "3401 02 007");
        QCOMPARE(one(Dc09Events::fromContactId("1130010")), "");
        QCOMPARE(one(Dc09Events::fromContactId("#1234|")), "");
        // Area and user modifiers, one event per code; a code without a Contact ID keeps its
        // letters.
        QCOMPARE(one(Dc09Events::fromSia("#5678|Nri2/BA004/OP3/XQ12")),
                 "1130 02 004,1401 02 003,XQ 02 012");
        QCOMPARE(one(Dc09Events::fromSia("Nid7/CL")), "3401 00 007");
        QCOMPARE(one(Dc09Events::fromSia("Nti20:50/FA1^Cozinha^/RP")), "1110 00 001,1602 00 000");
        QCOMPARE(one(Dc09Events::fromSia("NBA1234567")), "1130 00 567");
        QCOMPARE(one(Dc09Events::fromSia("N12/BA")), "");
        QCOMPARE(one(Dc09Events::fromSia("")), "");
        QCOMPARE(Dc09Events::contactIdFor("BR"), "3130");
        QCOMPARE(Dc09Events::contactIdFor("YT"), "1302");
    }
};

QTEST_GUILESS_MAIN(TestDc09Message)
#include "test_dc09message.moc"
