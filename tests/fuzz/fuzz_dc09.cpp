// Random and mutated SIA DC-09 messages through the decoder, the event mapping, the
// receiver's verdict and the answers, under the sanitizers: nothing may crash, read out of
// bounds or overflow; what is taken must survive its own re-encoding; every answer is a
// message that is itself never answered; and what the receiver would acknowledge is what the
// recorder stores: each of its event lines passes the recorder's test and reads back as the
// event it was made from.
//
//   fuzz_dc09 [--seconds S] [--inputs N] [--seed K]
//
// Stops at whichever limit comes first (default: 3 seconds); prints the count and the time.
// Exit status 1 on a broken invariant, with the input in hexadecimal. Built with
// TULMO_LIBFUZZER defined, the file is a libFuzzer target (LLVMFuzzerTestOneInput) without
// its own main; a broken invariant aborts.

#include "events/EventLine.h"
#include "reception/Dc09Events.h"
#include "reception/Dc09Message.h"
#include "reception/Dc09Receiver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

using namespace tulmo;

namespace {

const QByteArray kKey = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F1011121314151617");

const char *const kSeeds[] = {
    "\"ADM-CID\"0001R1L1#1234[#1234|1130 01 015]",
    "\"ADM-CID\"0002#12[3401 02 007]_22:15:00,03-08-2026",
    "\"SIA-DCS\"0003L0#5678[#5678|Nri2/BA004/OP3/XQ12]",
    "\"SIA-DCS\"0004RF3L77#ABCDEF[#ABCDEF|Nti20:50/id7/CL^Saída^/RP][X-46.6][Y-23.5]",
    "\"NULL\"0005L0#1234[]",
    "\"NULL\"0006#0[]_00:00:00,01-01-2026",
    "\"SIA-DCS\"0007L0#1234[#1234|NRR|Atest]",
    "\"SIA-DCS\"0001L[#9999|NBA2]",
    "\"NULL\"0001L#7303658550[]",
    "\"ADM-CID\"0042Rab12L0c#12ab[#12ab|1130 0a 0bc]",
    "\"SIA-DCS\"6002L0#AAA[|Nri1/CL501][M0026B9E4268B][V01][X-46.6]",
    "\"SIA-DCS\"0003L0#77[#77Nri3BA1^Sala/Cozinha]^BA2/ri4/FA07]",
    "\"ADM-CID\"0006R1L1[#12345678|1130 01 015]",
    "\"SIA-DCS\"9832L000000[#1234|Nri01/BB026]",
};
const char kAlphabet[] = "0123456789ABCDEFabcdef\"#[]|_:,-/^RLNOX*\n\r \x14\x00\xff";

bool checkMessage(const QByteArray &in);

struct Fuzzer {
    std::mt19937 rng;
    qint64 taken = 0;

    int pick(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); }
    char anyByte() {
        return pick(3) == 0 ? char(pick(256)) : kAlphabet[pick(int(sizeof(kAlphabet)) - 1)];
    }

    QByteArray mutate(QByteArray b) {
        const int edits = 1 + pick(4);
        for (int i = 0; i < edits; ++i) {
            const int at = b.isEmpty() ? 0 : pick(int(b.size()));
            switch (pick(6)) {
            case 0: if (!b.isEmpty()) b[at] = anyByte(); break;
            case 1: b.insert(at, anyByte()); break;
            case 2: b.remove(at, 1 + pick(8)); break;
            case 3: b.insert(at, b.mid(pick(int(b.size()) + 1), pick(16))); break;
            case 4: if (!b.isEmpty()) b[at] = char(b.at(at) ^ (1 << pick(8))); break;
            default: b.insert(at, QByteArray(pick(64), anyByte())); break;
            }
        }
        return b;
    }

    QByteArray input() {
        const QByteArray seed = kSeeds[pick(int(std::size(kSeeds)))];
        switch (pick(5)) {
        case 0: { // random bytes, sometimes framed
            QByteArray b;
            for (int n = pick(300); n > 0; --n) b += anyByte();
            return pick(2) ? Dc09Codec::frame(b) : b;
        }
        case 1: return mutate(Dc09Codec::frame(seed));                // raw: CRC/length checks
        case 2: {                                                     // valid CRC: the parser
            static const Dc09Message::CrcForm kForms[] = {Dc09Message::CrcForm::Hex,
                                                          Dc09Message::CrcForm::Binary,
                                                          Dc09Message::CrcForm::HexCountingCr};
            return Dc09Codec::frame(mutate(seed), kForms[pick(3)]);
        }
        case 3: {                                                     // through the cipher
            Dc09Message m;
            m.token = pick(2) ? "ADM-CID" : "SIA-DCS";
            m.sequence = "0042";
            m.account = "1234";
            m.data = QString::fromLatin1(mutate("#1234|1130 01 015"));
            m.timestamp = QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
            return pick(4) ? Dc09Codec::build(m, kKey) : mutate(Dc09Codec::build(m, kKey));
        }
        default: { // an encrypted body with random hex, of whole blocks or not
            QByteArray hex;
            for (int n = 16 * (1 + pick(4)) + (pick(4) == 0 ? pick(5) : 0); n > 0; --n)
                hex += "0123456789ABCDEF"[pick(16)];
            hex = hex.toHex().left(hex.size() * 2 - pick(2));
            return Dc09Codec::frame("\"*SIA-DCS\"0001#1234[" + hex);
        }
        }
    }

    bool check(const QByteArray &in) {
        ++taken;
        return checkMessage(in);
    }
};

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!checkMessage(in)) {
        std::fprintf(stderr, "fuzz_dc09: invariant broken on %s\n", in.toHex().constData());
        std::abort();
    }
    return 0;
}

#ifndef TULMO_LIBFUZZER
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    double seconds = 3;
    qint64 limit = -1;
    unsigned seed = std::random_device{}();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--seconds")) seconds = args[i + 1].toDouble();
        if (args[i] == QLatin1String("--inputs")) limit = args[i + 1].toLongLong();
        if (args[i] == QLatin1String("--seed")) seed = args[i + 1].toUInt();
    }
    Fuzzer f{std::mt19937(seed)};
    QElapsedTimer t;
    t.start();
    while ((limit < 0 || f.taken < limit) && t.elapsed() < qint64(seconds * 1000)) {
        const QByteArray in = f.input();
        if (!f.check(in)) {
            std::fprintf(stderr, "fuzz_dc09: invariant broken (seed %u) on %s\n", seed,
                         in.toHex().constData());
            return 1;
        }
    }
    std::printf("fuzz_dc09: %lld inputs in %.1f s (seed %u), %lld verdicts of ACK with events\n",
                static_cast<long long>(f.taken), double(t.elapsed()) / 1000.0, seed,
                static_cast<long long>(acknowledged));
    return 0;
}
#endif
