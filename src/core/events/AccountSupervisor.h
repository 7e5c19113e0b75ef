#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

namespace tulmo {

class Database;

// Watches the accounts over time: disarmed accounts whose schedule says they must be armed
// by now (the rearm check of the one-second driver), and accounts silent for longer than
// their allowed time (the inactivity scan, its own one-second timer).
class AccountSupervisor : public QObject {
    Q_OBJECT
public:
    // The most accounts one scan tick marks. Each mark dirties a page of its own that the
    // commit writes through to the disk (about half a millisecond each on a large station), so
    // the tick stays near 50 ms, and a thousand accounts falling silent together are still all
    // marked within twenty ticks.
    static constexpr int kMarksPerTick = 50;

    explicit AccountSupervisor(Database &database, QObject *parent = nullptr);

    // Moves at most one due disarmed account to "waiting to be armed". True when one moved.
    bool checkRearm(const QDateTime &now);

    // Marks the accounts whose silence deadline has come by now, the earliest deadline first
    // and at most kMarksPerTick of them, and announces each. Returns how many were marked. With
    // none due it is one probe of the deadline index, whatever the number of accounts.
    int TimerInativosTimer(const QDateTime &now);

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
};

} // namespace tulmo
