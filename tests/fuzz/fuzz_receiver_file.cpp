// A receiver's event memory file (".ORB", ".TVL"), as an operator picks it for "Importar
// Eventos": the block reader, the record decoder, and the receiver frame and event line each
// event record becomes.
//
// Input: the file's bytes.
//
// Properties:
//  - the blocks hold every byte of the file, in order, 32 bytes a record (the last one may be
//    cut short), numbered and placed as they stand in the file;
//  - an event record the decoder takes makes a 34-character frame, and the event line of that
//    frame is one the recorder stores, with the record's own time when the import uses it:
//    the import records what it lists.

#include "FuzzSupport.h"

#include "core/common/Clock.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/import/ReceiverFile.h"
#include "core/import/ReceiverRecord.h"
#include "core/settings/LiveSettings.h"

#include <QFile>

using namespace tulmo;

namespace {

const QDateTime kImportTime(QDate(2026, 3, 9), QTime(10, 0, 0));

void checkEvent(const ReceiverFile::Record &r, const QByteArray &input) {
    QString problem;
    const auto event = ReceiverRecord::decode(r.digits, &problem);
    if (!event) {
        if (problem.isEmpty()) fuzz::broken("registro recusado sem motivo", input, r.digits);
        return;
    }
    if (event->frame.size() != 34)
        fuzz::broken("quadro do registro sem 34 caracteres", input, event->frame);
    if (!event->when.isValid()) fuzz::broken("registro aceito sem data e hora", input, r.digits);
    static LiveSettings settings; // the computer's time: the import's or the record's
    for (const QDateTime &when : {kImportTime, event->when}) {
        const ManualClock clock(when);
        const QString line = EventDecoder(clock, settings).Decodifica_Eventos(event->frame);
        const QString why = eventline::unstorableReason(line);
        if (!why.isEmpty())
            fuzz::broken("evento importado que não se grava", input,
                         why + QStringLiteral(" | ") + r.digits + QStringLiteral(" | ") + line);
        if (eventline::parseDateTime(eventline::parse(line)->dataHora) !=
            QDateTime(when.date(),
                      QTime(when.time().hour(), when.time().minute(), when.time().second())))
            fuzz::broken("evento importado com outra data e hora", input, line);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    const QString path = fuzz::scratch().filePath(QStringLiteral("eventos.ORB"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input) != input.size())
            fuzz::broken("não gravou o arquivo de teste", input);
    }
    ReceiverFile file;
    QString error;
    if (!file.open(path, &error)) fuzz::broken("arquivo não abriu", input, error);
    if (file.recordCount() != (qsizetype(size) + ReceiverRecord::kSize - 1) / ReceiverRecord::kSize)
        fuzz::broken("contagem de registros", input);
    QString all;
    int count = 0;
    QList<ReceiverFile::Record> block;
    while (!file.atEnd()) {
        if (!file.readBlock(&block, &error)) fuzz::broken("bloco não lido", input, error);
        for (const ReceiverFile::Record &r : std::as_const(block)) {
            ++count;
            if (r.number != count || r.offset != qint64(count - 1) * ReceiverRecord::kSize ||
                r.digits.size() > ReceiverRecord::kDigits ||
                (r.digits.size() < ReceiverRecord::kDigits &&
                 r.offset + r.digits.size() / 2 != qint64(size)))
                fuzz::broken("registro fora do lugar", input, QString::number(count));
            all += r.digits;
            if (r.digits.size() == ReceiverRecord::kDigits && ReceiverRecord::isEvent(r.digits))
                checkEvent(r, input);
        }
    }
    if (count != file.recordCount() || all != QString::fromLatin1(input.toHex().toUpper()))
        fuzz::broken("blocos não cobrem o arquivo", input);
    return 0;
}
