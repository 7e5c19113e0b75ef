#pragma once

#include <QObject>

namespace tulmo {

class Clock;
class DM1;

// The connected devices (one row per accepted TCP connection) and the delayed replies.
class Conectados : public QObject {
    Q_OBJECT
public:
    Conectados(DM1 &dm, const Clock &clock, QObject *parent = nullptr);

    // Timed duties of the one-second driver, each given the current time.
    void enviarRespostaDevida(const QDateTime &now);
    void expirarConexaoSilenciosa(const QDateTime &now);

private:
    DM1 &m_dm;
    const Clock &m_clock;
};

} // namespace tulmo
