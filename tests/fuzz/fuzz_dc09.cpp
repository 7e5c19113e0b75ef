// Random and mutated SIA DC-09 messages through the decoder, the event mapping, the
// receiver's verdict and the answers, under the sanitizers: nothing may crash, read out of
// bounds or overflow; what is taken must survive its own re-encoding; every answer is a
// message that is itself never answered; and what the receiver would acknowledge is what the
// recorder stores: each of its event lines passes the recorder's test and reads back as the
// event it was made from.
//
// Coverage-guided by libFuzzer. Input: one byte that says how the rest reaches the decoder,
// then the bytes:
//   0: as they arrived (the framing, the CRC and length checks);
//   1: as the body of a message with its CRC and length right, the CRC in the form bits 2-3
//      choose (four hex digits, two bytes, or counting the CR): the parser;
//   2: as the data of a message encrypted with the account's key (through the cipher);
//   3: after the header of an encrypted message, as the bytes of its hexadecimal block.
// A broken invariant aborts, with the message in hexadecimal.

#include "core/events/EventLine.h"
#include "core/reception/Dc09Events.h"
#include "core/reception/Dc09Message.h"
#include "core/reception/Dc09Receiver.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tulmo;

namespace {

const QByteArray kKey = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F1011121314151617");

bool keyed(const QString &a) {
    static const QRegularExpression kLeadingZeros(QStringLiteral("^0+"));
    return QString(a).toUpper().remove(kLeadingZeros) == QLatin1String("1234");
}

// Messages whose verdict was an ACK with event lines: the invariant was put to the test.
qint64 acknowledged = 0;

// Every answer is a whole message that reads as an answer, so it is never answered back.
bool isAnswer(const QByteArray &b) {
    Dc09Message m;
    return Dc09Codec::decode(b, {}, &m) == Dc09Codec::Status::Response;
}

// The receiver's verdict on a message read whole: an ACK only for lines the recorder stores,
// each reading back as the event it was made from; never for a clear message of a keyed
// account.
bool checkIntake(const Dc09Message &m) {
    // The station's clock at the message's own time, so a stamped message lies in the window.
    const QDateTime now = m.timestamp.isValid() ? m.timestamp : QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
    const Dc09Report report = Dc09Events::read(m);
    for (bool panelTime : {false, true}) {
        const Dc09Intake in = dc09Intake(m, 1 + int(m.sequence.toInt() % 20), now, panelTime, keyed);
        if (in.answer != Dc09Intake::Answer::Ack) continue;
        if (!m.encrypted && (keyed(m.account) || keyed(report.account))) return false;
        if (m.token == QLatin1String("NULL")) {
            if (!in.lines.isEmpty() || dc09LineAccount(in.account).size() > 6) return false;
            continue;
        }
        if (in.lines.size() != report.events.size() || in.lines.isEmpty()) return false;
        ++acknowledged;
        for (qsizetype i = 0; i < in.lines.size(); ++i) {
            if (!eventline::unstorableReason(in.lines[i]).isEmpty()) return false;
            const auto ev = eventline::parse(in.lines[i]);
            const Dc09Event &e = report.events[i];
            const QString conta = dc09LineAccount(in.account);
            static const QRegularExpression kHexAccount(QStringLiteral("^[0-9A-F]{6}$"));
            if (!ev || !kHexAccount.match(ev->conta).hasMatch() || ev->codigo != e.codigo || ev->particao != e.particao ||
                ev->zonaUsuario != e.zona || ev->conta != (conta.size() < 6 ? "00" + conta : conta))
                return false;
        }
    }
    return true;
}

bool checkMessage(const QByteArray &in) {
    using S = Dc09Codec::Status;
    Dc09Message m;
    const auto keys = [](const QString &a) { return keyed(a) ? kKey : QByteArray(); };
    const S s = Dc09Codec::decode(in, keys, &m);
    const QDateTime now = QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
    switch (s) {
    case S::NotDc09:
    case S::BadLength:
    case S::BadCrc:
    case S::Response:
        return true;
    case S::BadHeader:
    case S::Unsupported:
    case S::BadData:
        return isAnswer(Dc09Codec::duh(m));
    case S::BadTimestamp:
    case S::NoKey:
    case S::Undecryptable:
    case S::NoTimestamp:
        return isAnswer(Dc09Codec::nak(now, m.crcForm));
    case S::Ok:
        break;
    }
    for (const Dc09Event &e : Dc09Events::fromMessage(m))
        if (e.codigo.size() > 4 || e.particao.size() != 2 || e.zona.size() != 3) return false;
    if (!isAnswer(Dc09Codec::ack(m, m.encrypted ? kKey : QByteArray(), now)) || !isAnswer(Dc09Codec::duh(m)))
        return false;
    if (!checkIntake(m)) return false;
    // What was taken is encoded again as it was read.
    Dc09Message again;
    const QByteArray rebuilt = Dc09Codec::build(m, m.encrypted ? kKey : QByteArray());
    if (Dc09Codec::decode(rebuilt, keys, &again) != S::Ok) return false;
    return again.data == m.data && again.extended == m.extended &&
           again.timestamp == m.timestamp && again.account == m.account &&
           again.receiver == m.receiver && again.linePrefix == m.linePrefix &&
           again.crcForm == m.crcForm;
}

// The message the decoder gets from one input of libFuzzer.
QByteArray messageOf(const QByteArray &bytes) {
    const char how = bytes.at(0);
    const QByteArray rest = bytes.mid(1);
    switch (how & 3) {
    case 0:
        return rest;
    case 1: {
        static const Dc09Message::CrcForm kForms[] = {
            Dc09Message::CrcForm::Hex, Dc09Message::CrcForm::Binary,
            Dc09Message::CrcForm::HexCountingCr, Dc09Message::CrcForm::Hex};
        return Dc09Codec::frame(rest, kForms[(how >> 2) & 3]);
    }
    case 2: {
        Dc09Message m;
        m.token = (how & 4) ? "ADM-CID" : "SIA-DCS";
        m.sequence = "0042";
        m.account = "1234";
        m.data = QString::fromLatin1(rest);
        m.timestamp = QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
        return Dc09Codec::build(m, kKey);
    }
    default: { // random blocks for the cipher, whole or one digit short
        const QByteArray hex = rest.toHex().toUpper();
        return Dc09Codec::frame("\"*SIA-DCS\"0001#1234[" +
                                ((how & 4) ? hex.chopped(hex.isEmpty() ? 0 : 1) : hex));
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
    // How often the receiver's verdict was an ACK with events: the invariant put to the test.
    std::atexit([] {
        std::fprintf(stderr, "fuzz_dc09: %lld verdicts of ACK with events\n",
                     static_cast<long long>(acknowledged));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const QByteArray in = messageOf(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!checkMessage(in)) {
        std::fprintf(stderr, "fuzz_dc09: invariant broken on %s\n", in.toHex().constData());
        std::abort();
    }
    return 0;
}
