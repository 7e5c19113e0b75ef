// Random and mutated SIA DC-09 messages through the decoder, the event mapping and the
// answers, under the sanitizers: nothing may crash, read out of bounds or overflow, and
// what is taken must survive its own re-encoding.
//
//   fuzz_dc09 [--seconds S] [--inputs N] [--seed K]
//
// Stops at whichever limit comes first (default: 3 seconds); prints the count and the time.
// Exit status 1 on a broken invariant, with the input in hexadecimal.

#include "reception/Dc09Events.h"
#include "reception/Dc09Message.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
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
};
const char kAlphabet[] = "0123456789ABCDEFabcdef\"#[]|_:,-/^RLNOX*\n\r \x14\x00\xff";

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
        case 2: return Dc09Codec::frame(mutate(seed));                // valid CRC: the parser
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
        Dc09Message m;
        const auto keys = [](const QString &a) { return a == QLatin1String("1234") ? kKey : QByteArray(); };
        const Dc09Codec::Status s = Dc09Codec::decode(in, keys, &m);
        const QDateTime now = QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
        if (s == Dc09Codec::Status::Unsupported || s == Dc09Codec::Status::BadData)
            return Dc09Codec::decode(Dc09Codec::duh(m), keys, &m) == Dc09Codec::Status::Unsupported;
        if (s != Dc09Codec::Status::Ok) return true;
        for (const Dc09Event &e : Dc09Events::fromMessage(m))
            if (e.codigo.size() > 4 || e.particao.size() != 2 || e.zona.size() != 3) return false;
        Dc09Message again;
        const QByteArray ack = Dc09Codec::ack(m, m.encrypted ? kKey : QByteArray(), now);
        if (Dc09Codec::decode(ack, keys, &again) != Dc09Codec::Status::Unsupported) return false;
        // What was taken is encoded again as it was read.
        const QByteArray rebuilt = Dc09Codec::build(m, m.encrypted ? kKey : QByteArray());
        if (Dc09Codec::decode(rebuilt, keys, &again) != Dc09Codec::Status::Ok) return false;
        return again.data == m.data && again.extended == m.extended &&
               again.timestamp == m.timestamp && again.account == m.account;
    }
};

} // namespace

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
    std::printf("fuzz_dc09: %lld inputs in %.1f s (seed %u)\n", static_cast<long long>(f.taken),
                double(t.elapsed()) / 1000.0, seed);
    return 0;
}
