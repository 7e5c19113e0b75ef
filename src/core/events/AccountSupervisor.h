#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

namespace tulmo {

class Database;

// Watches the accounts over time: disarmed accounts whose schedule says they must be armed
// by now (the rearm check of the one-second driver), and accounts silent for longer than
// their allowed time (the inactivity scan, nine accounts per second).
class AccountSupervisor : public QObject {
    Q_OBJECT
public:
    static constexpr int kContasPorTick = 9;

    explicit AccountSupervisor(Database &banco, QObject *parent = nullptr);

    // Moves at most one due disarmed account to "waiting to be armed". True when one moved.
    bool verificarRearme(const QDateTime &now);

    // Examines the next nine accounts of the scan; marks the first one found silent and
    // restarts the scan. True when an account was marked.
    bool TimerInativosTimer(const QDateTime &now);

    // Back to the lowest account number (after every recorded event, and after a mark).
    void reabrirVarredura() { m_ultimaConta.clear(); }
    const QString &ultimaContaExaminada() const { return m_ultimaConta; }

    // How many statements the last scan tick ran (each reads at most nine rows).
    int consultasNoUltimoTick() const { return m_consultas; }

signals:
    // "Cliente " + name + " Está Desarmado"
    void contaAguardandoArmar(const QString &mensagem);
    // "Cliente " + account + "-" + name + " Está inativo desde " + last event
    void contaInativa(const QString &mensagem);
    void desarmadosChanged();
    void aguardandoArmarChanged();
    void semComunicacaoChanged();

private:
    Database &m_banco;
    QString m_ultimaConta; // the scan's position: the last account examined
    int m_consultas = 0;
};

} // namespace tulmo
