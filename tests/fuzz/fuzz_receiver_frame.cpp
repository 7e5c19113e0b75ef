// Receiver frames (formats "1" and "5", from a serial receiver or a device over TCP) through
// the decoder that makes their event lines.
//
// Input: one byte of options (bit 0: the date and time come from the receiver's frame, not the
// computer's clock), then the frame's bytes as they arrive, its 0x14 included or not.
//
// Properties:
//  - a whole, valid frame gives a line the recorder stores, carrying the frame's account,
//    code, partition and zone;
//  - a frame that reception takes as an event (today: any frame that gives a line) gives a
//    line the recorder stores: reception acknowledges it. Today's decoder breaks this (it reads
//    fixed positions of a frame of any length), so it is a breach, counted, until
//    TULMO_FUZZ_STRICT_ACK makes it a crash.

#include "FuzzSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/events/ReceiverFrame.h"
#include "core/settings/LiveSettings.h"

#include <QRegularExpression>

using namespace tulmo;

namespace {

const QDateTime kNow(QDate(2026, 3, 9), QTime(10, 0, 0));

struct Expected {
    QString conta, codigo, particao, zona;
};

QString digitsAt(const QString &f, int pos, int len) {
    return f.mid(pos - 1, len);
}

// The frames a receiver sends, with decimal digits where a digit goes: format "5" with or
// without the caller's number, format "1" with the receiver's time and date. Nothing else is
// claimed here to be whole; a frame of this shape must come out right.
std::optional<Expected> wholeFrame(QString f, bool receiverTime) {
    if (f.endsWith(QChar(0x14))) f.chop(1);
    static const QRegularExpression f5(QStringLiteral("^5\\d{3} 18\\d{4}[EROC]\\d{8}(\\d{14})?$"));
    static const QRegularExpression f1(QStringLiteral(
        "^1\\d{3} {6}\\d{4} \\d{2}\\d{3}(\\d\\d:\\d\\d:\\d\\d) (\\d\\d/\\d\\d/\\d\\d)$"));
    if (!receiverTime && f5.match(f).hasMatch()) {
        const QChar q = f.at(11);
        const QString qualifier = (q == QLatin1Char('E') || q == QLatin1Char('O'))
                                      ? QStringLiteral("1")
                                      : QStringLiteral("3");
        return Expected{QStringLiteral("00") + digitsAt(f, 8, 4), qualifier + digitsAt(f, 13, 3),
                        digitsAt(f, 16, 2), digitsAt(f, 18, 3)};
    }
    const auto m1 = f1.match(f);
    if (m1.hasMatch()) {
        if (receiverTime &&
            !eventline::parseDateTime(m1.captured(2) + QLatin1Char(' ') + m1.captured(1)).isValid())
            return std::nullopt;
        const QString conta = digitsAt(f, 11, 4);
        return Expected{QStringLiteral("00") + conta, digitsAt(f, 16, 1) + digitsAt(f, 18, 3),
                        digitsAt(f, 17, 1),
                        conta == QLatin1String("0000") ? digitsAt(f, 4, 1) : QStringLiteral("0")};
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const QByteArray input = fuzz::bytesOf(data, size);
    const bool receiverTime = (data[0] & 1) != 0;
    // Bytes map one to one onto characters, as both receptions read them.
    const QString frame = QString::fromLatin1(input.mid(1));

    static ManualClock clock(kNow);
    static LiveSettings settings;
    settings.setEventTimeSource(receiverTime ? LiveSettings::EventTimeSource::FromReceiver
                                             : LiveSettings::EventTimeSource::FromComputer);
    const QString line = EventDecoder(clock, settings).Decodifica_Eventos(frame);
    const QString why = line.isEmpty() ? QString() : eventline::unstorableReason(line);

    if (const auto expected = wholeFrame(frame, receiverTime)) {
        if (line.isEmpty()) fuzz::broken("quadro inteiro sem evento", input);
        if (!why.isEmpty()) fuzz::broken("quadro inteiro com linha que não se grava", input, why);
        const auto ev = eventline::parse(line);
        if (ev->conta != expected->conta || ev->codigo != expected->codigo ||
            ev->particao != expected->particao || ev->zonaUsuario != expected->zona)
            fuzz::broken("quadro inteiro gravado com outros campos", input, line);
    }
    // What reception takes as an event, and so acknowledges: a whole event by its shape.
    const bool takenAsEvent = receiverframe::shapeOf(receiverframe::withoutEnd(input.mid(1))) ==
                              receiverframe::Shape::Event;
    if (takenAsEvent && (line.isEmpty() || !why.isEmpty()))
        fuzz::breach("quadro de receptora tomado como evento sem linha que se grave", input,
                     line.isEmpty() ? QStringLiteral("nenhuma linha de evento") : why,
                     frame + QStringLiteral(" -> ") + line);
    return 0;
}
