#pragma once

#include <QObject>
#include <QTimer>

namespace tulmo {

class EventQueue;
class SlotWriter;

// Forwards the device frames of the repeater queue ("slot,frame" lines) out of the serial
// port of their slot: the head frame is written until the peer answers (any frame received
// on that port) or the attempts run out, then the next one goes.
class Repetidora : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxCaracteres = 21;

    Repetidora(EventQueue &fila, SlotWriter &portas, QObject *parent = nullptr);

    // [Repetidora] TentativasRepetidora and TempoTentativas (seconds); 5 and 5 by default.
    void setTentativas(int n) { m_tentativas = n; }
    void setIntervaloSegundos(int s) { m_intervalo = s; }
    int tentativas() const { return m_tentativas; }
    int intervaloSegundos() const { return m_intervalo; }

    // Step of the one-second driver: starts the repeater when lines wait and it is idle.
    void iniciarSeOcioso();
    // One expiry of TimerRepetidora: an attempt, or the drop of the head after the last.
    void TimerRepetidoraTimer();
    // Serial reception ended a frame on slot k: the head line of slot k was delivered.
    void confirmar(int slot);

    int retryCount() const { return m_retryCount; }
    QTimer &timer() { return m_timer; }

signals:
    void iniciada();
    void enviada(int slot, const QByteArray &frame);

private:
    EventQueue &m_fila;
    SlotWriter &m_portas;
    QTimer m_timer; // TimerRepetidora
    int m_retryCount = 0;
    int m_tentativas = 5;
    int m_intervalo = 5;
};

} // namespace tulmo
