#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/events/ReceiverFrame.h"
#include "core/settings/LiveSettings.h"

#include <QTest>

using namespace tulmo;

namespace {

// A receiver message laid out the way the receiver manuals describe it: blanks everywhere,
// then each field written at its 1-based position.
class Frame {
public:
    explicit Frame(int length)
        : m_text(length, QLatin1Char(' ')) {}
    Frame &at(int pos, const QString &text) {
        const qsizetype end = pos - 1 + text.size();
        if (end > m_text.size()) m_text.append(QString(end - m_text.size(), QLatin1Char(' ')));
        m_text.replace(pos - 1, text.size(), text);
        return *this;
    }
    QString text() const { return m_text; }
    operator QString() const { return m_text; }

private:
    QString m_text;
};

// Format "1": receiver 01, line 1, account 1234, qualifier 1, partition 2, event 130,
// receiver time 14:02:11 and date 05/03/09.
Frame format1() {
    return Frame(37)
        .at(1, "1")
        .at(2, "01")
        .at(4, "1")
        .at(11, "1234")
        .at(16, "1")
        .at(17, "2")
        .at(18, "130")
        .at(21, "14:02:11")
        .at(30, "05/03/09");
}

// Format "5": receiver 02, line 3, account 5678, "E" 130, partition 01, zone 004,
// no caller number.
Frame format5() {
    return Frame(33)
        .at(1, "5")
        .at(2, "02")
        .at(4, "3")
        .at(8, "5678")
        .at(12, "E")
        .at(13, "130")
        .at(16, "01")
        .at(18, "004")
        .at(23, "0");
}

const QDateTime kMarch5(QDate(2009, 3, 5), QTime(14, 2, 11));

} // namespace

class TestEventLine : public QObject {
    Q_OBJECT
private slots:
    void init();

    void frameHelperPlacesTextAtPositions();

    void format1FullMessage();
    void format1BlankQualifierMeansNone();
    void format1BlankAt18TakesOnly19And20();
    void format1BlankPartitionBecomesZero();
    void format1AccountZeroCarriesLineDigit_data();
    void format1AccountZeroCarriesLineDigit();
    void format1AtSignIsIgnored();

    void format5Qualifier_data();
    void format5Qualifier();
    void format5FullMessageWithoutCaller();
    void format5CallerPresence_data();
    void format5CallerPresence();
    void format5MessageEndingBeforeCallerFlag();
    void format5PartitionAndZone();
    void format5AtSignIsIgnored();

    void otherFirstCharactersAreIgnored_data();
    void otherFirstCharactersAreIgnored();
    void nineCharactersIgnoredTenDecoded();

    void computerClockDate_data();
    void computerClockDate();
    void receiverClockDate();

    void buildMatchesKnownLayout();
    void buildWithCallerId();
    void parseWidensFourDigitAccount();
    void parseKeepsSixDigitAccount();
    void parseWidensOnlyOnce();
    void parseCallerIdPresentAndAbsent();
    void parseRejectsLineWithoutMarker_data();
    void parseRejectsLineWithoutMarker();
    void decodedLinesRoundTrip();

    void receiverFrameLayouts_data();
    void receiverFrameLayouts();

    void parseDateTimeAccepts_data();
    void parseDateTimeAccepts();
    void parseDateTimeRejects_data();
    void parseDateTimeRejects();

private:
    ManualClock m_clock{kMarch5};
    LiveSettings m_settings;
    QString decode(const QString &m) const {
        return EventDecoder(m_clock, m_settings).Decodifica_Eventos(m);
    }
};

void TestEventLine::init() {
    m_clock.set(kMarch5);
    m_settings.setEventTimeSource(LiveSettings::EventTimeSource::FromComputer);
}

void TestEventLine::frameHelperPlacesTextAtPositions() {
    const QString f = format1();
    QCOMPARE(f.size(), 37);
    QCOMPARE(f, QStringLiteral("1011      1234 1213014:02:11 05/03/09"));
    QCOMPARE(Frame(3).at(5, "ab").text(), QStringLiteral("    ab"));
}

// ---- format "1" ----

void TestEventLine::format1FullMessage() {
    QCOMPARE(decode(format1()),
             QStringLiteral("Rc01 Ln1 Ct1234 Pt2 Ce1130 Su0 Dt05/03/09 Tm14:02:11"));
}

void TestEventLine::format1BlankQualifierMeansNone() {
    QCOMPARE(decode(format1().at(16, " ")),
             QStringLiteral("Rc01 Ln1 Ct1234 Pt2 Ce130 Su0 Dt05/03/09 Tm14:02:11"));
}

void TestEventLine::format1BlankAt18TakesOnly19And20() {
    // Qualifier 3 with a two-digit event: the code has three characters.
    const QString line = decode(format1().at(16, "3").at(18, " 45"));
    QCOMPARE(line, QStringLiteral("Rc01 Ln1 Ct1234 Pt2 Ce345 Su0 Dt05/03/09 Tm14:02:11"));
    // Blank qualifier and blank 18: the code is the two digits alone.
    QCOMPARE(eventline::parse(decode(format1().at(16, " ").at(18, " 45")))->codigo,
             QStringLiteral("45"));
}

void TestEventLine::format1BlankPartitionBecomesZero() {
    const auto e = eventline::parse(decode(format1().at(17, " ")));
    QVERIFY(e);
    QCOMPARE(e->particao, QStringLiteral("0"));
    QCOMPARE(eventline::parse(decode(format1().at(17, "7")))->particao, QStringLiteral("7"));
}

void TestEventLine::format1AccountZeroCarriesLineDigit_data() {
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("lineDigit");
    QTest::addColumn<QString>("zone");
    QTest::newRow("0000 line 4") << "0000"
                                 << "4"
                                 << "4";
    QTest::newRow("0000 line 1") << "0000"
                                 << "1"
                                 << "1";
    QTest::newRow("1234 line 4") << "1234"
                                 << "4"
                                 << "0";
    QTest::newRow("0001 line 4") << "0001"
                                 << "4"
                                 << "0";
}

void TestEventLine::format1AccountZeroCarriesLineDigit() {
    QFETCH(QString, account);
    QFETCH(QString, lineDigit);
    QFETCH(QString, zone);
    const QString line = decode(format1().at(4, lineDigit).at(11, account));
    QVERIFY(line.startsWith(QStringLiteral("Rc01 Ln") + lineDigit + QStringLiteral(" Ct") +
                            account + QLatin1Char(' ')));
    const auto e = eventline::parse(line);
    QVERIFY(e);
    QCOMPARE(e->zonaUsuario, zone);
}

void TestEventLine::format1AtSignIsIgnored() {
    QVERIFY(!decode(format1()).isEmpty());
    QCOMPARE(decode(format1().at(16, "@")), QString());
}

// ---- format "5" ----

void TestEventLine::format5Qualifier_data() {
    QTest::addColumn<QString>("qualifier");
    QTest::addColumn<QString>("code");
    QTest::newRow("E opening") << "E"
                               << "1130";
    QTest::newRow("R restore") << "R"
                               << "3130";
    QTest::newRow("C closing") << "C"
                               << "3130";
    QTest::newRow("O") << "O"
                       << "1130";
    QTest::newRow("digit 7 kept") << "7"
                                  << "7130";
    QTest::newRow("digit 1 kept") << "1"
                                  << "1130";
    QTest::newRow("other letter kept") << "X"
                                       << "X130";
}

void TestEventLine::format5Qualifier() {
    QFETCH(QString, qualifier);
    QFETCH(QString, code);
    const auto e = eventline::parse(decode(format5().at(12, qualifier)));
    QVERIFY(e);
    QCOMPARE(e->codigo, code);
}

void TestEventLine::format5FullMessageWithoutCaller() {
    QCOMPARE(decode(format5()),
             QStringLiteral("Rc02 Ln3 Ct5678 Pt01 Ce1130 Su004 Dt05/03/09 Tm14:02:11 "
                            "IdNão Identificado"));
}

void TestEventLine::format5CallerPresence_data() {
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QString>("id");
    QTest::newRow("blank") << " "
                           << "Não Identificado";
    QTest::newRow("0") << "0"
                       << "Não Identificado";
    QTest::newRow("1") << "1"
                       << "1133224455";
    QTest::newRow("2") << "2"
                       << "1133224455";
    QTest::newRow("9") << "9"
                       << "1133224455";
}

void TestEventLine::format5CallerPresence() {
    QFETCH(QString, flag);
    QFETCH(QString, id);
    const QString line = decode(format5().at(23, flag).at(24, "1133224455"));
    QVERIFY(line.endsWith(QStringLiteral(" Id") + id));
    const auto e = eventline::parse(line);
    QVERIFY(e);
    QCOMPARE(e->idecall, id);
}

void TestEventLine::format5MessageEndingBeforeCallerFlag() {
    // The message stops at the zone: there is no flag, so no caller either.
    const QString m = format5().text().left(20);
    QCOMPARE(m.size(), 20);
    const QString line = decode(m);
    QVERIFY(line.endsWith(QStringLiteral(" IdNão Identificado")));
    QCOMPARE(eventline::parse(line)->zonaUsuario, QStringLiteral("004"));
}

void TestEventLine::format5PartitionAndZone() {
    const auto e = eventline::parse(decode(format5().at(16, "12").at(18, "987")));
    QVERIFY(e);
    QCOMPARE(e->particao, QStringLiteral("12"));
    QCOMPARE(e->zonaUsuario, QStringLiteral("987"));
    QCOMPARE(e->conta, QStringLiteral("005678"));
}

void TestEventLine::format5AtSignIsIgnored() {
    QVERIFY(!decode(format5()).isEmpty());
    QCOMPARE(decode(format5().at(16, "@")), QString());
    QCOMPARE(decode(format5().at(16, "@1")), QString());
}

// ---- other shapes ----

void TestEventLine::otherFirstCharactersAreIgnored_data() {
    QTest::addColumn<QString>("first");
    for (const char *c : {"0", "2", "3", "4", "6", "9", "A", "S", " ", "@"})
        QTest::newRow(c) << QString::fromLatin1(c);
}

void TestEventLine::otherFirstCharactersAreIgnored() {
    QFETCH(QString, first);
    QCOMPARE(decode(format1().at(1, first)), QString());
    QCOMPARE(decode(format5().at(1, first)), QString());
}

void TestEventLine::nineCharactersIgnoredTenDecoded() {
    const QString ten = format1().text().left(10);
    QCOMPARE(ten.size(), 10);
    QCOMPARE(decode(ten.left(9)), QString());
    const QString line = decode(ten);
    QVERIFY(line.startsWith(QStringLiteral("Rc01 Ln1 Ct")));
    QVERIFY(line.endsWith(QStringLiteral(" Dt05/03/09 Tm14:02:11")));

    const QString ten5 = format5().text().left(10);
    QCOMPARE(decode(ten5.left(9)), QString());
    QVERIFY(decode(ten5).startsWith(QStringLiteral("Rc02 Ln3 Ct")));
    QCOMPARE(decode(QString()), QString());
}

// ---- date and time sources ----

void TestEventLine::computerClockDate_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("dt");
    QTest::addColumn<QString>("tm");
    QTest::newRow("5 March 2009") << kMarch5 << "05/03/09"
                                  << "14:02:11";
    QTest::newRow("last second of 2010")
        << QDateTime(QDate(2010, 12, 31), QTime(23, 59, 59)) << "31/12/10"
        << "23:59:59";
    QTest::newRow("midnight 1 Jan 2024")
        << QDateTime(QDate(2024, 1, 1), QTime(0, 0, 0)) << "01/01/24"
        << "00:00:00";
}

void TestEventLine::computerClockDate() {
    QFETCH(QDateTime, now);
    QFETCH(QString, dt);
    QFETCH(QString, tm);
    m_clock.set(now);
    // The receiver's own date in the message must not be used.
    const QString suffix = QStringLiteral(" Dt") + dt + QStringLiteral(" Tm") + tm;
    QVERIFY2(decode(format1().at(21, "09:09:09").at(30, "09/09/99")).endsWith(suffix),
             qPrintable(suffix));
    QVERIFY(decode(format5()).contains(suffix + QStringLiteral(" Id")));
}

void TestEventLine::receiverClockDate() {
    m_settings.setEventTimeSource(LiveSettings::EventTimeSource::FromReceiver);
    m_clock.set(QDateTime(QDate(2031, 7, 20), QTime(8, 0, 0))); // must not be used
    QCOMPARE(decode(format1().at(21, "23:45:01").at(30, "28/02/10")),
             QStringLiteral("Rc01 Ln1 Ct1234 Pt2 Ce1130 Su0 Dt28/02/10 Tm23:45:01"));

    // Format "5": the same positions, whatever else shares them.
    const QString line = decode(format5().at(21, "07:08:09").at(30, "11/12/13"));
    const auto e = eventline::parse(line);
    QVERIFY2(e, qPrintable(line));
    QCOMPARE(e->dataHora, QStringLiteral("11/12/13 07:08:09"));

    // A short frame carries no clock: the computer's stamps it, so the line can be stored.
    const QString shortFrame = decode(QStringLiteral("5011 180042E13001003\x14"));
    QVERIFY2(shortFrame.contains(QStringLiteral(" Dt20/07/31 Tm08:00:00")), qPrintable(shortFrame));
    QVERIFY(eventline::unstorableReason(shortFrame).isEmpty());
}

// ---- the event line and its parsing ----

void TestEventLine::buildMatchesKnownLayout() {
    QCOMPARE(eventline::build("01", "1", "1234", "1", "1130", "0", "05/03/09", "14:02:11"),
             QStringLiteral("Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11"));
}

void TestEventLine::buildWithCallerId() {
    QCOMPARE(eventline::build("7", "1", "001234", "0", "1130", "3", "05/03/2009", "14:02:11",
                              QStringLiteral("1133224455")),
             QStringLiteral("Rc7 Ln1 Ct001234 Pt0 Ce1130 Su3 Dt05/03/2009 Tm14:02:11 "
                            "Id1133224455"));
}

void TestEventLine::parseWidensFourDigitAccount() {
    const auto e = eventline::parse("Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11");
    QVERIFY(e);
    QCOMPARE(e->conta, QStringLiteral("001234"));
    QCOMPARE(e->particao, QStringLiteral("1"));
    QCOMPARE(e->codigo, QStringLiteral("1130"));
    QCOMPARE(e->zonaUsuario, QStringLiteral("0"));
    QCOMPARE(e->dataHora, QStringLiteral("05/03/09 14:02:11"));
    QCOMPARE(e->idecall, QString());
}

void TestEventLine::parseKeepsSixDigitAccount() {
    const auto e = eventline::parse("Rc3 Ln1 Ct001234 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11");
    QVERIFY(e);
    QCOMPARE(e->conta, QStringLiteral("001234"));
    QCOMPARE(eventline::parse("Rc3 Ln1 Ct987654 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11")->conta,
             QStringLiteral("987654"));
}

void TestEventLine::parseWidensOnlyOnce() {
    // "00" is put in front once; a short account is not padded to six.
    QCOMPARE(eventline::parse("Rc01 Ln1 Ct12 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11")->conta,
             QStringLiteral("0012"));
    QCOMPARE(eventline::parse("Rc01 Ln1 Ct12345 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11")->conta,
             QStringLiteral("0012345"));
}

void TestEventLine::parseCallerIdPresentAndAbsent() {
    const auto with =
        eventline::parse("Rc02 Ln3 Ct5678 Pt01 Ce1130 Su004 Dt05/03/09 Tm14:02:11 Id1133224455");
    QVERIFY(with);
    QCOMPARE(with->idecall, QStringLiteral("1133224455"));
    QCOMPARE(with->dataHora, QStringLiteral("05/03/09 14:02:11"));

    const auto unknown = eventline::parse(
        "Rc02 Ln3 Ct5678 Pt01 Ce1130 Su004 Dt05/03/09 Tm14:02:11 IdNão Identificado");
    QVERIFY(unknown);
    QCOMPARE(unknown->idecall, QStringLiteral("Não Identificado"));
    QCOMPARE(unknown->dataHora, QStringLiteral("05/03/09 14:02:11"));

    const auto without =
        eventline::parse("Rc02 Ln3 Ct5678 Pt01 Ce1130 Su004 Dt05/03/09 Tm14:02:11");
    QVERIFY(without);
    QVERIFY(without->idecall.isEmpty());
    QCOMPARE(without->dataHora, QStringLiteral("05/03/09 14:02:11"));
}

void TestEventLine::parseRejectsLineWithoutMarker_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("empty") << "";
    QTest::newRow("garbage") << "not an event line";
    QTest::newRow("no Ct") << "Rc01 Ln1 1234 Pt1 Ce1130 Su0 Dt05/03/09 Tm14:02:11";
    QTest::newRow("no Pt") << "Rc01 Ln1 Ct1234 Ce1130 Su0 Dt05/03/09 Tm14:02:11";
    QTest::newRow("no Ce") << "Rc01 Ln1 Ct1234 Pt1 Su0 Dt05/03/09 Tm14:02:11";
    QTest::newRow("no Su") << "Rc01 Ln1 Ct1234 Pt1 Ce1130 Dt05/03/09 Tm14:02:11";
    QTest::newRow("no Dt") << "Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Tm14:02:11";
    QTest::newRow("no Tm") << "Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Dt05/03/09";
}

void TestEventLine::parseRejectsLineWithoutMarker() {
    QFETCH(QString, line);
    QVERIFY(!eventline::parse(line).has_value());
}

// What reception may acknowledge: each layout whole, its beginnings waiting for more, and
// anything else refused.
void TestEventLine::receiverFrameLayouts_data() {
    using receiverframe::Shape;
    QTest::addColumn<QString>("frame");
    QTest::addColumn<Shape>("shape");
    const QString f1 = format1(), f5 = format5();
    QTest::newRow("1 with the receiver's clock") << f1 << Shape::Event;
    QTest::newRow("1 alone") << f1.left(20) << Shape::Event;
    QTest::newRow("1 blank qualifier, partition, 18")
        << QString(format1().at(16, "   ").text()) << Shape::Event;
    QTest::newRow("1 cut in its clock") << f1.left(30) << Shape::Partial;
    QTest::newRow("1 too long") << f1 + "0" << Shape::Invalid;
    QTest::newRow("1 hex account") << QString(format1().at(11, "B2A4").text()) << Shape::Event;
    QTest::newRow("1 account with a blank") << QString(format1().at(11, "12 4").text())
                                          << Shape::Invalid;
    QTest::newRow("5 with the caller") << f5 << Shape::Event;
    QTest::newRow("5 with the caller and one more") << f5 + "0" << Shape::Event;
    QTest::newRow("5 from a receiver file") << "5011 181020E1300100100000000000000"
                                            << Shape::Event;
    QTest::newRow("5 alone") << f5.left(20) << Shape::Event;
    QTest::newRow("5 with the receiver's clock")
        << QString(Frame(37).at(1, f5.left(20)).at(21, "14:02:11").at(30, "05/03/09").text())
        << Shape::Event;
    QTest::newRow("5 hex partition and zone") << "5011 180042E1300B0BC" << Shape::Event;
    QTest::newRow("5 cut in its zone") << f5.left(19) << Shape::Partial;
    QTest::newRow("5 cut before the mark") << "5011 1800" << Shape::Partial;
    QTest::newRow("5 blank in its zone") << "5011 180042E13001 03" << Shape::Invalid;
    QTest::newRow("5 lower-case qualifier") << "5011 180042e13001003" << Shape::Invalid;
    QTest::newRow("5 cut in its clock") << "5011 180042E1300100314:0" << Shape::Partial;
    QTest::newRow("5 of 35") << f5 + "00" << Shape::Invalid;
    QTest::newRow("0x14 inside") << "5011 180042E13001003\x14" << Shape::Invalid;
    QTest::newRow("heartbeat") << "1011           @" << Shape::Heartbeat;
    QTest::newRow("heartbeat with more") << "1011 18 0042 E1@30" << Shape::Heartbeat;
    QTest::newRow("anything before the mark") << "5#%&*" << Shape::Partial;
    QTest::newRow("no receiver frame") << "XYZ" << Shape::Invalid;
}

void TestEventLine::receiverFrameLayouts() {
    QFETCH(QString, frame);
    QFETCH(receiverframe::Shape, shape);
    QCOMPARE(receiverframe::shapeOf(frame.toLatin1()), shape);
    // The frame's 0x14 is not part of its layout.
    if (shape == receiverframe::Shape::Event)
        QCOMPARE(receiverframe::shapeOf(receiverframe::withoutEnd(frame.toLatin1() + "\x14")), shape);
}

void TestEventLine::decodedLinesRoundTrip() {
    m_clock.set(QDateTime(QDate(2012, 10, 9), QTime(6, 7, 8)));
    const auto e1 = eventline::parse(decode(format1().at(11, "4321").at(16, "3").at(18, "401")));
    QVERIFY(e1);
    QCOMPARE(e1->conta, QStringLiteral("004321"));
    QCOMPARE(e1->particao, QStringLiteral("2"));
    QCOMPARE(e1->codigo, QStringLiteral("3401"));
    QCOMPARE(e1->zonaUsuario, QStringLiteral("0"));
    QCOMPARE(e1->dataHora, QStringLiteral("09/10/12 06:07:08"));
    QCOMPARE(e1->idecall, QString());
    QCOMPARE(eventline::parseDateTime(e1->dataHora), QDateTime(QDate(2012, 10, 9), QTime(6, 7, 8)));

    const auto e5 = eventline::parse(
        decode(format5().at(12, "R").at(13, "602").at(23, "1").at(24, "4830201234")));
    QVERIFY(e5);
    QCOMPARE(e5->conta, QStringLiteral("005678"));
    QCOMPARE(e5->particao, QStringLiteral("01"));
    QCOMPARE(e5->codigo, QStringLiteral("3602"));
    QCOMPARE(e5->zonaUsuario, QStringLiteral("004"));
    QCOMPARE(e5->dataHora, QStringLiteral("09/10/12 06:07:08"));
    QCOMPARE(e5->idecall, QStringLiteral("4830201234"));
    QCOMPARE(eventline::parseDateTime(e5->dataHora), QDateTime(QDate(2012, 10, 9), QTime(6, 7, 8)));
}

// ---- date and time text ----

void TestEventLine::parseDateTimeAccepts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("two-digit year")
        << "05/03/09 14:02:11" << QDateTime(QDate(2009, 3, 5), QTime(14, 2, 11));
    QTest::newRow("two-digit year 99 is 2099")
        << "31/12/99 23:59:59" << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59));
    QTest::newRow("two-digit year 00")
        << "01/01/00 00:00:00" << QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0));
    QTest::newRow("four-digit year")
        << "05/03/2009 14:02:11" << QDateTime(QDate(2009, 3, 5), QTime(14, 2, 11));
    QTest::newRow("four-digit year 1999")
        << "28/02/1999 08:30:00" << QDateTime(QDate(1999, 2, 28), QTime(8, 30, 0));
    QTest::newRow("one-digit day, month, hour")
        << "5/3/09 4:02:11" << QDateTime(QDate(2009, 3, 5), QTime(4, 2, 11));
    QTest::newRow("no seconds") << "05/03/2009 14:02"
                                << QDateTime(QDate(2009, 3, 5), QTime(14, 2, 0));
    QTest::newRow("leap day") << "29/02/12 12:00:00"
                              << QDateTime(QDate(2012, 2, 29), QTime(12, 0, 0));
}

void TestEventLine::parseDateTimeAccepts() {
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const QDateTime got = eventline::parseDateTime(text);
    QVERIFY(got.isValid());
    QCOMPARE(got, expected);
}

void TestEventLine::parseDateTimeRejects_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("date only") << "05/03/09";
    QTest::newRow("time only") << "14:02:11";
    QTest::newRow("31 February") << "31/02/09 10:00:00";
    QTest::newRow("29 February of a common year") << "29/02/13 10:00:00";
    QTest::newRow("month 13") << "05/13/09 10:00:00";
    QTest::newRow("day 0") << "00/03/09 10:00:00";
    QTest::newRow("hour 25") << "05/03/09 25:00:00";
    QTest::newRow("minute 60") << "05/03/09 10:60:00";
    QTest::newRow("second 61") << "05/03/09 10:00:61";
    QTest::newRow("three-digit year") << "05/03/009 10:00:00";
    QTest::newRow("dashes") << "05-03-09 10:00:00";
    QTest::newRow("letters in time") << "05/03/09 1a:00:00";
    QTest::newRow("trailing text") << "05/03/09 10:00:00 x";
}

void TestEventLine::parseDateTimeRejects() {
    QFETCH(QString, text);
    QVERIFY(!eventline::parseDateTime(text).isValid());
}

QTEST_GUILESS_MAIN(TestEventLine)
#include "test_eventline.moc"
