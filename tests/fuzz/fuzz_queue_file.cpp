// The queue file (Dados/Eventos_Log.dat and the repeater's queue) as the loader finds it after
// a crash, a hand edit or a copy from the Windows version: any bytes.
//
// Input: the file's bytes. Each input is loaded twice: as the numbered event queue with its
// torn-line log, and as a plain queue without one.
//
// Properties:
//  - a readable file always loads, and every line it yields is one line (no CR, no LF) that is
//    not blank;
//  - the load leaves the file in its own form: loading it again reads the same lines (and,
//    numbered, the same identity and first number) and changes no byte;
//  - a torn last line goes to the log and not to the queue; the lines before it stay;
//  - a line appended afterwards is the last line of the next load.

#include "FuzzSupport.h"

#include "core/common/TextCodec.h"
#include "core/events/EventQueue.h"

#include <QFile>

using namespace tulmo;

namespace {

void write(const QString &path, const QByteArray &bytes, const QByteArray &input) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fuzz::broken("não gravou o arquivo de teste", input);
}

QByteArray read(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void checkLines(const EventQueue &q, const QByteArray &input) {
    for (const QString &l : q.lines())
        if (l.contains(QLatin1Char('\r')) || l.contains(QLatin1Char('\n')) || l.trimmed().isEmpty())
            fuzz::broken("linha da fila que não é uma linha", input, l);
}

void loadOnce(EventQueue::Numbering numbering, bool withTornLog, const QByteArray &input) {
    const QString dir = fuzz::scratch().path();
    const QString path = dir + QStringLiteral("/Eventos_Log.dat");
    const QString rejects = dir + QStringLiteral("/Eventos_Rejeitados.dat");
    write(path, input, input);
    QFile::remove(rejects);
    RejectLog torn(rejects);

    EventQueue q(path, numbering);
    QString error;
    if (q.load(&error, withTornLog ? &torn : nullptr, QStringLiteral("09/03/2026 10:00:00")) !=
        EventQueue::LoadStatus::Loaded)
        fuzz::broken("fila legível não carregada", input, error);
    checkLines(q, input);
    // A torn line is what follows the last line end, when it is more than blanks.
    const QByteArray tail = input.mid(input.lastIndexOf('\n') + 1);
    const bool tornTail =
        withTornLog && !windowsTextLines(tail).join(QLatin1Char(' ')).trimmed().isEmpty();
    if (tornTail != QFile::exists(rejects))
        fuzz::broken("linha incompleta do fim e registro de rejeitadas não conferem", input);
    // The pump numbers the lines it hands to the store from the first one's number.
    if (!q.isEmpty()) {
        const qint64 last = q.numberAt(q.size() - 1);
        if (last < q.numberAt(0)) fuzz::broken("numeração da fila volta atrás", input);
    }

    const QByteArray normal = read(path);
    EventQueue again(path, numbering);
    if (again.load(&error) != EventQueue::LoadStatus::Loaded)
        fuzz::broken("fila normalizada não carregada", input, error);
    if (again.lines() != q.lines()) fuzz::broken("fila lida de novo com outras linhas", input);
    if (numbering == EventQueue::Numbering::Numbered &&
        (again.identity() != q.identity() || again.numberAt(0) != q.numberAt(0)))
        fuzz::broken("fila numerada perdeu a identidade ou a numeração", input);
    if (read(path) != normal) fuzz::broken("segunda leitura reescreveu a fila", input);

    const QString extra = QStringLiteral("Rc01 Ln1 Ct1234 Pt1 Ce1130 Su0 Dt09/03/26 Tm10:00:00");
    if (!again.append(extra, &error)) fuzz::broken("não acrescentou à fila", input, error);
    EventQueue third(path, numbering);
    third.load(&error);
    if (third.lines() != again.lines() || third.lines().isEmpty() || third.lines().last() != extra)
        fuzz::broken("linha acrescentada não é a última da fila", input);
    // The store took the first line: it leaves the file, and the numbering goes on after it.
    const qint64 next = third.numberAt(1);
    if (!third.takeFirst(1, &error)) fuzz::broken("não retirou a primeira linha", input, error);
    EventQueue fourth(path, numbering);
    fourth.load(&error);
    if (fourth.lines() != third.lines() ||
        (numbering == EventQueue::Numbering::Numbered && fourth.numberAt(0) != next))
        fuzz::broken("retirada da primeira linha não ficou no arquivo", input);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    loadOnce(EventQueue::Numbering::Numbered, true, input);
    loadOnce(EventQueue::Numbering::None, false, input);
    return 0;
}
