#pragma once

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QPair>
#include <QQueue>
#include <QString>

namespace tulmo {

class Database;
class GprsDirectory;

// The GPRS table as the device link sees it: a module looked up by its identifier (in the
// directory, which holds the table in memory), and an unknown one registered as pending for
// an operator to review. Any peer can invent
// identifiers, so only what a module sends is taken, and unknown identifiers join the table
// at a bounded pace: so many an hour from one address, so many pending in all. Known modules
// are always looked up and answered; the bounds hold back only the new.
class DeviceRegistration {
public:
    // GPRS.IMEI holds six characters, what the identification's layout gives.
    static constexpr int kIdentifierWidth = 6;
    // What one identification frame carries before any further data: marker, device code,
    // identifier and account.
    static constexpr int kIdentificationLength = 13;
    static constexpr int kPerAddress = 10;          // new modules registered from one address
    static constexpr int kAddressWindowSecs = 3600; // … within this many seconds
    static constexpr int kMaxPending = 200;         // rows with STATUS "P" in the table

    DeviceRegistration(Database &database, GprsDirectory &directory);

    // Why the head of an identification frame (its first kIdentificationLength characters,
    // one per byte) and its identifier are not what a module sends; empty when they are.
    static QString invalidIdentification(const QString &head, const QString &id);
    // The address pending registrations are counted by: an IPv4 address (also when mapped
    // into IPv6), or the /64 network of an IPv6 one, which a single host may fill.
    static QString sourceOf(const QHostAddress &peer);

    struct Known {
        enum class Kind { Active, Other, Unknown, Failed } kind = Kind::Failed;
        bool blocked = false;
    };
    // The module's row as the directory holds it: no statement, but for a module it does
    // not hold.
    Known lookUp(const QString &id) const;

    enum class Outcome { Registered, AddressFull, TableFull, Failed };
    struct Result {
        Outcome outcome = Outcome::Failed;
        int count = 0; // registrations of the address within the window, or pending rows
    };
    // Inserts the unknown module id as pending and blocked, unless its address or the table
    // has reached its bound; the directory holds it from then on.
    Result registerPending(const QString &id, const QString &conta, const QString &codigo,
                           const QString &source, const QDateTime &now);

private:
    void forgetBefore(const QDateTime &now);

    Database &m_database;
    GprsDirectory &m_directory;
    QQueue<QPair<QDateTime, QString>> m_recent; // registrations of the window, oldest first
    QHash<QString, int> m_perSource;
};

} // namespace tulmo
