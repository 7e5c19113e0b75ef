#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <optional>

namespace tulmo {

// What the station has declared that changes how events are raised:
// - an account "em teste" (all of it, or some of its zones) until a moment: its events are
//   recorded, marked TESTE, and neither raised as pending nor sounded (nor sent by SMS);
// - the storm mode: troubles, AC losses, restores and periodic tests are recorded, marked
//   TEMPESTADE, without being raised; alarms, emergencies and panics still raise.
// Both live in the database (CONTAS_TESTE, MODO_TEMPESTADE), so every workstation and the one
// that receives see the same; the recording reads them once per batch.
struct AccountTest {
    QString conta;     // six digits, as the events carry it
    QList<int> zonas;  // empty: the whole account
    QDateTime inicio, fim;
    QString operador;
};

struct StationModes {
    bool storm = false;
    QHash<QString, AccountTest> tests; // by account

    // The mark an event of this account, catalogue type number, zone and moment is recorded
    // with when it is not to be raised: "TESTE", "TEMPESTADE", or nothing.
    std::optional<QString> suppression(const QString &conta, const QString &tipo, bool zonaNumerica,
                                       int zona, const QDateTime &at) const;

    // Reads both on the connection (in its transaction, when one is open).
    static bool read(QSqlDatabase db, StationModes *out, QSqlError *error = nullptr);
};

namespace stationModes {

// How long a test may last: an operator with the test permission up to kTestMinutes, one with
// the long-test permission up to kLongTestMinutes; 0 for one with neither.
inline constexpr int kTestMinutes = 240;
inline constexpr int kLongTestMinutes = 72 * 60;
int maxTestMinutes(quint32 permissoes);

// "3,5,12" of the operator: the zones, or an empty list for the whole account; nullopt when
// the text holds anything but zone numbers (1 to 32767) separated by commas or blanks.
std::optional<QList<int>> parseZones(const QString &text);
QString zonesText(const QList<int> &zonas);

// Puts the account on test (replacing a test it was on), audited with it; false with the reason
// in Portuguese when the account is not registered or the database refused.
bool startTest(QSqlDatabase db, const AccountTest &test, QString *error);
// Ends it before its time (the operator's), audited.
bool endTest(QSqlDatabase db, const QString &conta, QString *error);
// Tests whose time has come: deleted, each audited as ended by itself; their accounts.
QStringList expireTests(QSqlDatabase db, const QDateTime &now);
// The accounts on test, the soonest to end first; nullopt when the database did not answer.
std::optional<QList<AccountTest>> tests(QSqlDatabase db, QString *error = nullptr);

// Declares or ends the storm mode, audited.
bool setStorm(QSqlDatabase db, bool on, const QDateTime &now, const QString &operador,
              QString *error);
struct Storm {
    bool active = false;
    QDateTime desde;
    QString operador;
};
std::optional<Storm> storm(QSqlDatabase db);

} // namespace stationModes

} // namespace tulmo
