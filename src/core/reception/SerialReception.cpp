#include "SerialReception.h"

#include "common/Clock.h"
#include "events/EventLine.h"
#include "reception/Data_Modulo2.h"
#include "reception/ReceptionSink.h"

#include <QSerialPort>
#include <QSqlQuery>
#include <QTimer>

namespace tulmo {

namespace {

constexpr char kAck = 0x06;

// The character at a 1-based position; a null character past the end.
QChar ch(const QString &s, int pos) {
    return pos >= 1 && pos <= s.size() ? s.at(pos - 1) : QChar();
}

} // namespace

SerialReception::SerialReception(DM1 &dm, ReceptionSink &sink, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
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
    s.timerCom->stop();
    s.timerCom->setInterval(kQuietMs);
    qsizetype from = 0;
    while (from < data.size()) {
        // A line that never falls silent still gets its frames, each of at most kMaxFrame.
        if (s.rxBuffer.size() >= kMaxFrame) TimerComTimer(k);
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
    m_sink.acknowledgeRepeater(k);
    if (s.rxBuffer.startsWith("RZ5")) {
        s.timerSM->stop();
        s.rxBuffer.clear();
        m_dm.portMonitor().append(k, QStringLiteral("Receptora Porta %1 Encontrada!").arg(k));
        return;
    }
    if (Decodifica_Timer_Serial(k)) m_dm.writeToSlot(k, QByteArray(1, kAck));
}

bool SerialReception::Decodifica_Timer_Serial(int k) {
    ReceiverSlot &s = m_dm.slot(k);
    // Bytes as characters one for one, so that positions in the frame are byte positions.
    const QString frame = QString::fromLatin1(s.rxBuffer);
    s.rxBuffer.clear();
    m_dm.portMonitor().append(k, QStringLiteral("Porta %1:").arg(k) + frame);

    bool durable = true;
    if (ch(frame, 1) == QLatin1Char('E')) durable = identifyCall(k, frame);
    if (ch(frame, 16) != QLatin1Char('@')) {
        if (m_sink.Decodifica_Eventos(frame) == ReceptionSink::QueueResult::Failed)
            durable = false;
    }
    return durable;
}

bool SerialReception::identifyCall(int k, const QString &frame) {
    const QString row = frame.mid(3, 1);
    const QString phone = frame.mid(5, 10);
    m_dm.portMonitor().append(k, phone);

    QString conta, eventCode;
    {
        QSqlQuery IBQ_IDCall(m_dm.database().secondary());
        IBQ_IDCall.setForwardOnly(true);
        IBQ_IDCall.prepare(QStringLiteral("Select Cli.conta, Cli.evento_idecall\n"
                                          "From clientes Cli\n"
                                          "Where Cli.fone_idecall = :Fone"));
        IBQ_IDCall.bindValue(QStringLiteral(":Fone"), phone);
        if (!IBQ_IDCall.exec() || !IBQ_IDCall.next()) return true;
        conta = IBQ_IDCall.value(0).toString();
        eventCode = IBQ_IDCall.value(1).toString();
    }
    if (conta.trimmed().isEmpty()) return true;

    const QDateTime now = m_clock.now();
    const QString line = eventline::build(
        QString::number(k), row, conta, QStringLiteral("01"), eventCode, QStringLiteral("001"),
        eventline::shortDate(now.date()), eventline::shortTime(now.time()));
    return m_sink.queueLine(line);
}

} // namespace tulmo
