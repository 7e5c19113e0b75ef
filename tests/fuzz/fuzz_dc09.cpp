// SIA DC-09 messages through the decoder, the event mapping and the answers, coverage-guided
// under the sanitizers: nothing may crash, read out of bounds or overflow, and what is taken
// must survive its own re-encoding.
//
// Input: one byte that says how the rest reaches the decoder, then the bytes:
//   0: as they arrived (the framing, the CRC and length checks);
//   1: as the body of a message with its CRC and length right (the parser);
//   2: as the data of a message encrypted with the account's key (through the cipher);
//   3: after the header of an encrypted message, as the bytes of its hexadecimal block.

#include "reception/Dc09Events.h"
#include "reception/Dc09Message.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tulmo;

namespace {

const QByteArray kKey = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F1011121314151617");

struct Fuzzer {
    qint64 taken = 0;

    static QByteArray input(const QByteArray &bytes) {
        const QByteArray rest = bytes.mid(1);
        switch (bytes.at(0) & 3) {
        case 0: return rest;
        case 1: return Dc09Codec::frame(rest);
        case 2: {
            Dc09Message m;
            m.token = (bytes.at(0) & 4) ? "ADM-CID" : "SIA-DCS";
            m.sequence = "0042";
            m.account = "1234";
            m.data = QString::fromLatin1(rest);
            m.timestamp = QDateTime(QDate(2026, 3, 8), QTime(22, 15), Qt::UTC);
            return Dc09Codec::build(m, kKey);
        }
        default: { // random blocks for the cipher, whole or one digit short
            const QByteArray hex = rest.toHex().toUpper();
            return Dc09Codec::frame("\"*SIA-DCS\"0001#1234[" +
                                    ((bytes.at(0) & 4) ? hex.chopped(hex.isEmpty() ? 0 : 1) : hex));
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

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    static Fuzzer f;
    const QByteArray in = Fuzzer::input(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!f.check(in)) {
        std::fprintf(stderr, "fuzz_dc09: invariant broken on %s\n", in.toHex().constData());
        std::abort();
    }
    return 0;
}
