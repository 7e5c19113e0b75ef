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
    static constexpr int kAccountsPerTick = 9;

    explicit AccountSupervisor(Database &database, QObject *parent = nullptr);

    // Moves at most one due disarmed account to "waiting to be armed". True when one moved.
    bool checkRearm(const QDateTime &now);

    // Examines the next nine accounts of the scan; marks the first one found silent and
    // restarts the scan. True when an account was marked.
    bool TimerInativosTimer(const QDateTime &now);

    // Back to the lowest account number (after every recorded event, and after a mark).
    void restartScan() { m_lastAccount.clear(); }
    const QString &lastAccountExamined() const { return m_lastAccount; }

    // How many statements the last scan tick ran (each reads at most nine rows).
    int queriesInLastTick() const { return m_queries; }

signals:
    // "Cliente " + name + " Está Desarmado"
    void accountAwaitingArm(const QString &messageText);
    // "Cliente " + account + "-" + name + " Está inativo desde " + last event
    void inactiveAccount(const QString &messageText);
    void disarmedChanged();
    void awaitingArmChanged();
    void silentChanged();

private:
    Database &m_database;
    QString m_lastAccount; // the scan's position: the last account examined
    int m_queries = 0;
};

} // namespace tulmo
