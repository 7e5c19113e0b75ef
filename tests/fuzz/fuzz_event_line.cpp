// Event lines, as the queue file holds them (any text: the file is the outside's too), through
// the parser, the date reader and the test of whether the recorder can store them.
//
// Input: the line in UTF-8. When it holds the byte 0x1F it is instead nine fields separated by
// it (Rc, Ln, Ct, Pt, Ce, Su, Dt, Tm, Id), built into a line as reception builds one.
//
// Properties:
//  - a line said storable parses, with an account of at most six characters, a partition
//    that is a Contact ID number and a date and time that can be read: the recorder reads it
//    on that word;
//  - a line built of fields without blanks parses back into the same fields;
//  - built of fields the recorder takes (partition a Contact ID number, a real date and
//    time, an account of at most six characters), it is storable.

#include "FuzzSupport.h"

#include "core/events/EventLine.h"

using namespace tulmo;

namespace {

void checkStorable(const QString &line, const QByteArray &input) {
    const QString why = eventline::unstorableReason(line);
    const auto ev = eventline::parse(line);
    if (!why.isEmpty()) return;
    if (!ev) fuzz::broken("linha gravável que não se lê", input, line);
    int particao = -1;
    if (ev->conta.size() > 6 || !eventline::contactIdNumber(ev->particao, &particao) ||
        particao < 0 || particao > 32767 || !eventline::parseDateTime(ev->dataHora).isValid())
        fuzz::broken("linha gravável com campo que não se grava", input, line);
}

bool blankFree(const QStringList &fields) {
    for (const QString &f : fields)
        if (f.contains(QLatin1Char(' '))) return false;
    return true;
}

void checkBuilt(QStringList f, const QByteArray &input) {
    while (f.size() < 9)
        f.append(QString());
    const QString &rc = f[0], &ln = f[1], &ct = f[2], &pt = f[3], &ce = f[4], &su = f[5],
                  &dt = f[6], &id = f[8];
    // The time is the eight characters reception writes.
    const QString tm = f[7].leftJustified(8, QLatin1Char('0'), true);
    const bool withId = !id.isEmpty();
    const QString line = eventline::build(rc, ln, ct, pt, ce, su, dt, tm,
                                          withId ? std::optional<QString>(id) : std::nullopt);
    checkStorable(line, input);
    // A field holding a blank, or "Ct" before the account, can shift a marker: reception never
    // writes one.
    if (!blankFree({rc, ln, ct, pt, ce, su, dt, tm}) || rc.contains(QLatin1String("Ct")) ||
        ln.contains(QLatin1String("Ct")))
        return;
    const auto ev = eventline::parse(line);
    if (!ev) fuzz::broken("linha montada que não se lê", input, line);
    const QString conta = ct.size() < 6 ? QStringLiteral("00") + ct : ct;
    if (ev->conta != conta || ev->particao != pt || ev->codigo != ce || ev->zonaUsuario != su ||
        ev->dataHora != dt + QLatin1Char(' ') + tm || ev->idecall != id)
        fuzz::broken("linha montada lida com outros campos", input, line);
    int particao = 0;
    const bool storableFields = conta.size() <= 6 && eventline::contactIdNumber(pt, &particao) &&
                                eventline::parseDateTime(dt + QLatin1Char(' ') + tm).isValid();
    if (storableFields && !eventline::unstorableReason(line).isEmpty())
        fuzz::broken("campos graváveis numa linha que não se grava", input,
                     eventline::unstorableReason(line) + QStringLiteral(" | ") + line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    const QString text = QString::fromUtf8(input);
    if (input.contains('\x1f'))
        checkBuilt(text.split(QChar(0x1F)), input);
    else
        checkStorable(text, input);
    int n = 0;
    if (eventline::contactIdNumber(text, &n) && (n < 0 || n > 32767))
        fuzz::broken("número Contact ID fora de um SMALLINT", input);
    return 0;
}
