#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace tulmo {

class GprsDirectory;

// One row of GPRS as the registry edits it. LISTA_NEGRA is kept as typed ("" when empty) so
// that what the operator wrote can be checked before it is saved.
struct GprsModule {
    QString imei;
    QString conta;
    QString status; // "P" registered by the device link, "A" saved by an operator
    QDateTime data;
    QString listaNegra; // "1" blocked, "0" allowed
    QString equipamento;
    QString senhaAcesso;
};

// Reading and writing the GPRS registry: every statement on GPRS that the registry and the
// device link run. Every change is committed at once and then told to the directory given
// (nullptr: none), which identification reads instead of the table.
namespace GprsRepository {

// The access password of a module whose row has none.
inline constexpr const char *kDefaultPassword = "60418273";

// Every module by identifier; nullopt when the statement failed.
std::optional<QList<GprsModule>> all(QSqlDatabase db, QString *errorText = nullptr);
// The module with identifier imei, into out.
enum class Found { Yes, No, Failed };
Found find(QSqlDatabase db, const QString &imei, GprsModule *out, QString *errorText = nullptr);
// How many rows have that STATUS; -1 when the statement failed.
int countByStatus(QSqlDatabase db, const QString &status, QString *errorText = nullptr);

// The device link's registration of an unknown module (a row as it is, STATUS "P"): inserted
// only while fewer than maxPending rows are pending, the count and the insert in one
// transaction. pending gets the rows pending before it.
enum class Registration { Inserted, Full, Failed };
Registration insertPending(QSqlDatabase db, GprsDirectory *directory, const GprsModule &m,
                           int maxPending, int *pending, QString *errorText = nullptr);

// What an operator's save does to the row: reviewed ("A"), and the empty date, block flag and
// password filled in.
void prepareForPost(GprsModule &m, const QDateTime &now);
// The operator's message for a row that cannot be saved as it is; empty when it can.
QString invalidInput(const GprsModule &m);

// Saves the row: a new one when originalImei is empty, otherwise the row that had that
// identifier. A duplicate identifier comes back as duplicate, with nothing written.
enum class Post { Saved, Duplicate, Failed };
Post post(QSqlDatabase db, GprsDirectory *directory, const QString &originalImei,
          const GprsModule &m, QString *errorText = nullptr);
bool remove(QSqlDatabase db, GprsDirectory *directory, const QString &imei,
            QString *errorText = nullptr);

// The background of a row (0xRRGGBB): yellow while pending, red when blocked, lime otherwise.
unsigned rowColor(const QString &status, const QString &listaNegra);

} // namespace GprsRepository

} // namespace tulmo
