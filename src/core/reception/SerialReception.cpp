#include "SerialReception.h"

#include "core/common/Clock.h"
#include "core/events/EventLine.h"
#include "core/events/ReceiverFrame.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/ReceptionSink.h"

#include <QPointer>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTimer>

namespace tulmo {

namespace {

constexpr char kAck = 0x06;

using receiverframe::Shape;

// The character at a 1-based position; a null character past the end.
QChar ch(const QString &s, int pos) {
    return pos >= 1 && pos <= s.size() ? s.at(pos - 1) : QChar();
}

} // namespace

SerialReception::SerialReception(DM1 &dm, Database &database, ReceptionSink &sink,
                                 const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_database(database)
    , m_sink(sink)
    , m_clock(clock) {
    for (int k = 1; k <= DM1::kSlots; ++k) {
        ReceiverSlot &s = m_dm.slot(k);
        connect(s.comPort, &QSerialPort::readyRead, this, [this, k] { ComPortaRxChar(k); });
        connect(s.timerCom, &QTimer::timeout, this, [this, k] { TimerComTimer(k); });
    }
}

void SerialReception::ComPortaRxChar(int k) {
    QSerialPort *p = m_dm.comPort(k);
    if (!p) return;
    // Read no more than the buffer can still take, so that the port's own buffer is the only
    // other place bytes wait in and a full buffer ends its frame before the next read.
    while (p->bytesAvailable() > 0) {
        const qsizetype room = kMaxFrame - m_dm.slot(k).rxBuffer.size();
        const QByteArray data = p->read(std::max<qsizetype>(room, 1));
        if (data.isEmpty()) break;
        Decodifica_Serial(data, k);
    }
}

void SerialReception::Decodifica_Serial(const QByteArray &data, int k) {
    if (!m_dm.validSlot(k)) return;
    ReceiverSlot &s = m_dm.slot(k);
    Line &line = m_lines[size_t(k)];
    s.lastHeard = m_clock.now();
    s.timerCom->stop();
    s.timerCom->setInterval(kQuietMs);
    // A frame that waited for its rest ends where it is when another one begins, or is
    // dropped when its time is up.
    if (line.waiting) {
        const bool late = elapsedMs(line.since) >= kLimitMs;
        if (late || !receiverframe::continues(s.rxBuffer, data))
            receiverFrameEnd(k, late ? End::Quiet : End::Successor);
    }
    line.waiting = false;
    qsizetype from = 0;
    while (from < data.size()) {
        // A line that never falls silent still gets its frames, each of at most kMaxFrame.
        if (s.rxBuffer.size() >= kMaxFrame) TimerComTimer(k);
        if (s.rxBuffer.isEmpty()) line.since = m_clock.now();
        const qsizetype n = std::min(kMaxFrame - s.rxBuffer.size(), data.size() - from);
        s.rxBuffer.append(data.constData() + from, n);
        from += n;
    }
    if (s.rxBuffer.size() >= kMaxFrame) TimerComTimer(k);
    // The quiet time counts from the last reception.
    if (!s.rxBuffer.isEmpty()) s.timerCom->start();
}

void SerialReception::TimerComTimer(int k) {
    if (!m_dm.validSlot(k)) return;
    ReceiverSlot &s = m_dm.slot(k);
    s.timerCom->stop();
    if (s.rxBuffer.startsWith("RZ5")) {
        m_sink.acknowledgeRepeater(k);
        s.timerSM->stop();
        s.rxBuffer.clear();
        m_dm.portMonitor().append(k, QStringLiteral("Receptora Porta %1 Encontrada!").arg(k));
        return;
    }
    dropTail(k);
    if (s.rxBuffer.isEmpty()) return;
    if (receiverframe::startsFrame(s.rxBuffer.front())) {
        receiverFrameEnd(k, End::Quiet);
        return;
    }
    m_sink.acknowledgeRepeater(k);
    if (Decodifica_Timer_Serial(k).isEmpty()) acknowledgeWhenDurable(k, false);
}

// Every 0x06 of a slot waits for the same flushes: the receiver takes them in the order of its
// frames, none before its frame's line is on the disk.
void SerialReception::acknowledgeWhenDurable(int k, bool tellFailure) {
    const QPointer<SerialReception> self(this);
    m_sink.whenDurable([self, k, tellFailure](bool durable) {
        if (!self) return;
        if (durable) {
            self->m_dm.writeToSlot(k, QByteArray(1, kAck));
        } else if (tellFailure) {
            self->m_dm.portMonitor().append(
                QStringLiteral("Porta %1: sem confirmação: não foi possível gravar a fila de "
                               "eventos")
                    .arg(k));
        }
    });
}

void SerialReception::receiverFrameEnd(int k, End end) {
    ReceiverSlot &s = m_dm.slot(k);
    Line &line = m_lines[size_t(k)];
    line.waiting = false;
    const bool ended = s.rxBuffer.endsWith(receiverframe::kEnd);
    QString why;
    Shape shape = receiverframe::shapeOf(receiverframe::withoutEnd(s.rxBuffer), &why);
    // Its 0x14 came: nothing more will make it whole.
    if (ended && shape == Shape::Partial) shape = Shape::Invalid;
    const bool whole =
        shape == Shape::Heartbeat ||
        (shape == Shape::Event && (ended || end == End::Successor || !line.endsFrames));
    if (whole || shape == Shape::Invalid) {
        m_sink.acknowledgeRepeater(k);
        if (whole && ended) line.endsFrames = true;
        if (shape == Shape::Invalid) {
            m_dm.portMonitor().append(QStringLiteral("Porta %1:").arg(k) +
                                      QString::fromLatin1(s.rxBuffer));
            s.rxBuffer.clear();
            // What follows up to its 0x14 is more of it.
            line.tail = !ended;
            line.tailSince = m_clock.now();
        } else {
            why = Decodifica_Timer_Serial(k);
            if (why.isEmpty()) {
                acknowledgeWhenDurable(k, true);
                return;
            }
        }
        m_dm.portMonitor().append(QStringLiteral("Porta %1: sem confirmação: ").arg(k) + why);
        return;
    }
    const qint64 elapsed = elapsedMs(line.since);
    if (end == End::Successor || elapsed >= kLimitMs) {
        m_dm.portMonitor().append(
            QStringLiteral("Porta %1: quadro incompleto descartado: ").arg(k) +
            QString::fromLatin1(s.rxBuffer));
        s.rxBuffer.clear();
        line.tail = end != End::Successor;
        line.tailSince = m_clock.now();
        return;
    }
    // Not whole yet: it waits for its rest until the limit.
    line.waiting = true;
    s.timerCom->start(int(std::clamp<qint64>(kLimitMs - elapsed, 1, kLimitMs)));
}

void SerialReception::dropTail(int k) {
    QByteArray &b = m_dm.slot(k).rxBuffer;
    Line &line = m_lines[size_t(k)];
    if (b.isEmpty()) return;
    if (line.tail &&
        (elapsedMs(line.tailSince) >= kLimitMs || receiverframe::startsFrame(b.front())))
        line.tail = false;
    if (!line.tail) {
        // The 0x14 of a frame taken without it.
        qsizetype ends = 0;
        while (ends < b.size() && b.at(ends) == receiverframe::kEnd)
            ++ends;
        if (ends > 0) line.endsFrames = true;
        b.remove(0, ends);
        return;
    }
    const qsizetype end = b.indexOf(receiverframe::kEnd);
    const qsizetype cut = end < 0 ? b.size() : end + 1;
    m_dm.portMonitor().append(QStringLiteral("Porta %1: quadro incompleto descartado: ").arg(k) +
                              QString::fromLatin1(b.left(cut)));
    b.remove(0, cut);
    if (end >= 0) line.tail = false;
}

qint64 SerialReception::elapsedMs(const QDateTime &since) const {
    return std::max<qint64>(0, since.msecsTo(m_clock.now()));
}

QString SerialReception::Decodifica_Timer_Serial(int k) {
    ReceiverSlot &s = m_dm.slot(k);
    // Bytes as characters one for one, so that positions in the frame are byte positions.
    const QString frame = QString::fromLatin1(s.rxBuffer);
    s.rxBuffer.clear();
    m_dm.portMonitor().append(k, QStringLiteral("Porta %1:").arg(k) + frame);

    QString why;
    if (ch(frame, 1) == QLatin1Char('E')) why = identifyCall(k, frame);
    if (ch(frame, 16) != QLatin1Char('@')) {
        const ReceptionSink::QueueResult r = m_sink.stageEvent(frame);
        const bool receiverFrame =
            !frame.isEmpty() && receiverframe::startsFrame(frame.front().toLatin1());
        if (r == ReceptionSink::QueueResult::Failed)
            why = QStringLiteral("não foi possível gravar a fila de eventos");
        else if (r == ReceptionSink::QueueResult::Refused)
            why = QStringLiteral("evento que não pode ser gravado");
        else if (receiverFrame && r != ReceptionSink::QueueResult::Queued)
            why = QStringLiteral("quadro sem evento");
    }
    return why;
}

QString SerialReception::identifyCall(int k, const QString &frame) {
    const QString row = frame.mid(3, 1);
    const QString phone = frame.mid(5, 10);
    m_dm.portMonitor().append(k, phone);

    QString conta, eventCode;
    {
        QSqlQuery IBQ_IDCall(m_database.secondary());
        IBQ_IDCall.setForwardOnly(true);
        IBQ_IDCall.prepare(QStringLiteral("Select Cli.conta, Cli.evento_idecall\n"
                                          "From clientes Cli\n"
                                          "Where Cli.fone_idecall = :Fone"));
        IBQ_IDCall.bindValue(QStringLiteral(":Fone"), phone);
        if (!IBQ_IDCall.exec() || !IBQ_IDCall.next()) return QString();
        conta = IBQ_IDCall.value(0).toString();
        eventCode = IBQ_IDCall.value(1).toString();
    }
    if (conta.trimmed().isEmpty()) return QString();

    const QDateTime now = m_clock.now();
    const QString line = eventline::build(
        QString::number(k), row, conta, QStringLiteral("01"), eventCode, QStringLiteral("001"),
        eventline::shortDate(now.date()), eventline::shortTime(now.time()));
    // What the receiver is told was received is what the recorder stores.
    if (const QString why = eventline::unstorableReason(line); !why.isEmpty()) return why;
    return m_sink.stageLine(line) != ReceptionSink::QueueResult::Failed
               ? QString()
               : QStringLiteral("não foi possível gravar a fila de eventos");
}

} // namespace tulmo
