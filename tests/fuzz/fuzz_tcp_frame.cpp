// What a device connected over TCP sends, in pieces as the network delivers them: the frame
// assembly of the connection and the device protocol (Decodifica_TCP) on one real loopback
// connection of a TCP receiver slot, the row identified as a device. The sink decodes receiver
// frames as the console does; no database is opened, so an identification ("&", "!") ends at
// its look-up, as when the database fails.
//
// Input: one byte of options, one byte whose low two bits are the number of cuts, one byte per
// cut, then the bytes the device sends. A cut byte places the cut (its low 7 bits, as a share
// of the bytes) and, by its top bit, lets the connection's quiet time pass after the piece.
// Options: bit 0 leaves the device unidentified; bit 1 puts a module download, bit 2 a module
// upload, in progress with this device; bit 3 takes the events' date and time from the
// receiver's frame instead of the computer's clock.
//
// Properties:
//  - each frame is bytes the device sent, in order, none twice;
//  - a receiver frame ends at its first 0x14;
//  - a channel reading ("#$") is read only when it is whole;
//  - a frame that is acknowledged ("+OK", "+nnnS", "@") and handed to event processing made
//    an event line the recorder stores. Today's device link acknowledges frames that make no
//    line, or one that cannot be stored, so this is a breach, counted, until
//    TULMO_FUZZ_STRICT_ACK makes it a crash.

#include "FuzzSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/modules/ChannelReading.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/DeviceLink.h"
#include "core/reception/ReceptionSink.h"
#include "core/settings/LiveSettings.h"

#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tulmo;

namespace {

constexpr int kSlot = 1;
const QString kDevice = QStringLiteral("352000000000001");

// Event processing as the console's sink does it: the console's decoder, and every line it
// can store queued and durable at once.
struct FuzzSink : ReceptionSink {
    explicit FuzzSink(const Clock &clock)
        : decoder(clock, settings) {}
    QString decodeFrame(const QString &frame) const override {
        const QString line = decoder.Decodifica_Eventos(frame);
        handed.append(line);
        return line;
    }
    QueueResult stageLine(const QString &) override { return QueueResult::Queued; }
    void whenDurable(std::function<void(bool)> done) override { done(true); }
    void acknowledgeRepeater(int) override {}
    bool queueRepeater(int, const QString &) override { return true; }

    LiveSettings settings;
    EventDecoder decoder;
    mutable QStringList handed; // the lines of the frame being handled, empty for no event
};

// Two ends of one loopback TCP connection: the console's, accepted by the slot's listener,
// and the device's, read here without blocking.
std::pair<int, int> loopbackPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        std::abort();
    const int device = ::socket(AF_INET, SOCK_STREAM, 0);
    if (device < 0 || ::connect(device, reinterpret_cast<sockaddr *>(&a), len) != 0) std::abort();
    const int console = ::accept(listener, nullptr, nullptr);
    if (console < 0) std::abort();
    ::close(listener);
    ::fcntl(device, F_SETFL, ::fcntl(device, F_GETFL) | O_NONBLOCK);
    return {console, device};
}

struct Rig {
    ManualClock clock{QDateTime(QDate(2026, 3, 9), QTime(10, 0, 0))};
    Database database{fuzz::scratch().path() + "/TULMO.FDB"}; // never opened
    DM1 dm{fuzz::scratch().path(), database};
    ConnectionRegistry registry{dm, clock};
    FuzzSink sink{clock};
    DeviceLink link{dm, database, registry, sink, clock};
    TcpConnection *socket = nullptr;
    int device = -1;

    QByteArray input;
    QByteArray sent;      // what the device sent so far in this input
    qsizetype cursor = 0; // where the next frame may begin in it

    Rig() {
        const auto [console, dev] = loopbackPair();
        device = dev;
        emit dm.slot(kSlot).socketServer->connectionReceived(console);
        if (registry.rowCount() != 1) std::abort();
        socket = registry.row(0).socket.data();
        // Each frame goes through handle(), which sees what the link answered to it.
        QObject::disconnect(&registry, &ConnectionRegistry::frameReceived, &link, nullptr);
        QObject::connect(&registry, &ConnectionRegistry::frameReceived, &registry,
                         [this](TcpConnection *s, int k, const QByteArray &f) { handle(s, k, f); });
        QObject::connect(&link, &DeviceLink::channelReading, &registry,
                         [this](int, const QByteArray &f, TcpConnection *) { checkReading(f); });
    }

    QByteArray deviceReads() {
        QByteArray got;
        char buf[4096];
        for (ssize_t n; (n = ::recv(device, buf, sizeof buf, 0)) > 0;)
            got.append(buf, qsizetype(n));
        return got;
    }

    void checkReading(const QByteArray &frame) {
        const bool whole = frame.size() >= ChannelReading::kMinimumSize && frame.startsWith("#$");
        if (bool(ChannelReading::parse(frame)) != whole)
            fuzz::broken("leitura de canais aceita errado", input,
                         QString::fromLatin1(frame.toHex()));
    }

    void handle(TcpConnection *s, int k, const QByteArray &frame) {
        const qsizetype at = sent.indexOf(frame, cursor);
        if (frame.isEmpty() || at < 0)
            fuzz::broken("quadro que o dispositivo não enviou, ou repetido", input,
                         QString::fromLatin1(frame.toHex()));
        cursor = at + frame.size();
        const ReceiverSlot &slot = dm.slot(kSlot);
        if (!slot.dumpPending && !slot.uploadPending && (frame[0] == '1' || frame[0] == '5') &&
            frame.indexOf(FrameAssembler::kEnd) >= 0 &&
            frame.indexOf(FrameAssembler::kEnd) != frame.size() - 1)
            fuzz::broken("quadro de receptora passa do seu 0x14", input,
                         QString::fromLatin1(frame.toHex()));

        sink.handed.clear();
        const int queued = registry.replies().size();
        link.Decodifica_TCP(frame, s, k);
        const bool acknowledged = registry.replies().size() > queued || deviceReads().contains('@');
        if (!acknowledged) return;
        for (const QString &line : std::as_const(sink.handed)) {
            const QString why = line.isEmpty() ? QStringLiteral("nenhuma linha de evento")
                                               : eventline::unstorableReason(line);
            if (!why.isEmpty())
                fuzz::breach("conexão TCP confirmada sem linha que se grave", input, why,
                             QString::fromLatin1(frame) + QStringLiteral(" -> ") + line);
        }
    }

    void reset(quint8 options) {
        if (registry.rowCount() != 1 || registry.row(0).socket != socket || !socket->connected())
            fuzz::broken("a conexão do dispositivo se perdeu", input);
        registry.setImei(0, (options & 1) ? QString() : kDevice);
        registry.setLastPacket(0, QString());
        registry.replies().clear();
        ReceiverSlot &slot = dm.slot(kSlot);
        slot.dumpPending = (options & 2) ? 1 : 0;
        slot.uploadPending = (options & 4) ? 1 : 0;
        slot.transferConnection = (options & 6) ? socket : nullptr;
        sink.settings.setEventTimeSource((options & 8)
                                             ? LiveSettings::EventTimeSource::FromReceiver
                                             : LiveSettings::EventTimeSource::FromComputer);
        deviceReads();
        // Held lines would count as a leak of every input to libFuzzer's leak check.
        dm.portMonitor().clear();
        dm.memo1().clear();
        sent.clear();
        cursor = 0;
    }

    // The timers of frames that were held are deleted later: let that happen.
    static void settle() {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

Rig *rig = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    rig = new Rig;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int cuts = data[1] & 3;
    if (size < size_t(2 + cuts)) return 0;
    rig->input = fuzz::bytesOf(data, size);
    rig->reset(data[0]);
    const QByteArray bytes = rig->input.mid(2 + cuts);
    FrameAssembler &frames = rig->registry.frames();
    qsizetype from = 0;
    for (int c = 0; c <= cuts; ++c) {
        const quint8 cut = c < cuts ? data[2 + c] : 0xFF;
        const qsizetype to =
            c < cuts ? std::max(from, bytes.size() * (cut & 0x7F) / 127) : bytes.size();
        const QByteArray piece = bytes.mid(from, to - from);
        from = to;
        if (!piece.isEmpty()) {
            rig->sent += piece;
            frames.take(rig->socket, kSlot, piece);
        }
        if (cut & 0x80) frames.quietTimeout(rig->socket);
    }
    // What is still held goes as when the connection closes, so the next input starts afresh.
    frames.release(rig->socket);
    if (frames.heldBytes(rig->socket) != 0) fuzz::broken("bytes retidos depois do fim", rig->input);
    Rig::settle();
    return 0;
}
