#include "EventRepeater.h"

#include "events/EventQueue.h"
#include "reception/SlotWriter.h"
#include "settings/LiveSettings.h"

namespace tulmo {

EventRepeater::EventRepeater(EventQueue &fila, SlotWriter &portas, const LiveSettings &settings,
                       QObject *parent)
    : QObject(parent)
    , m_fila(fila)
    , m_portas(portas)
    , m_settings(settings) {
    m_timer.setObjectName(QStringLiteral("TimerRepetidora"));
    connect(&m_timer, &QTimer::timeout, this, &EventRepeater::TimerRepetidoraTimer);
}

int EventRepeater::tentativas() const {
    return m_settings.tentativasRepetidora();
}

int EventRepeater::intervaloSegundos() const {
    return m_settings.tempoTentativas();
}

void EventRepeater::iniciarSeOcioso() {
    if (m_fila.isEmpty() || m_retryCount != 0 || m_timer.isActive()) return;
    m_timer.start(50);
    emit iniciada();
}

void EventRepeater::TimerRepetidoraTimer() {
    m_timer.stop();
    m_timer.setInterval(intervaloSegundos() * 1000);
    if (m_fila.isEmpty()) {
        m_retryCount = 0;
        return;
    }
    if (m_retryCount < tentativas()) {
        ++m_retryCount;
        m_timer.start();
        const QString head = m_fila.head();
        const int virgula = head.indexOf(QLatin1Char(','));
        const int slot = head.left(virgula).trimmed().toInt();
        // Frames are kept as received, one character per byte.
        const QByteArray frame = head.mid(virgula + 1).left(kMaxCaracteres).toLatin1();
        // A closed port is opened first; one that cannot open, or fails, still counts the
        // attempt.
        m_portas.openAndWrite(slot, frame);
        emit enviada(slot, frame);
        return;
    }
    m_fila.removeHead();
    m_retryCount = 0;
}

void EventRepeater::confirmar(int slot) {
    if (m_fila.isEmpty()) return;
    const QString head = m_fila.head();
    if (head.section(QLatin1Char(','), 0, 0).trimmed() != QString::number(slot)) return;
    m_fila.removeHead();
    m_retryCount = 0;
    m_timer.stop();
}

} // namespace tulmo
