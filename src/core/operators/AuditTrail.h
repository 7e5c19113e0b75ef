#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <utility>

namespace tulmo {

class Clock;

// AUDITORIA: who did what, on which workstation and when, with the values before and after.
// Each row is written in the transaction of the change it tells of, so a change that failed
// leaves no row and a row never tells of a change that was not kept. The table refuses every
// update and delete (a trigger), the event purge included.
namespace audit {

// The actions, as the audit window lists them.
inline constexpr const char *kShiftStart = "Início de turno";
inline constexpr const char *kShiftEnd = "Fim de turno";
inline constexpr const char *kLoginRefused = "Acesso recusado";
inline constexpr const char *kTreatment = "Tratamento de evento";
inline constexpr const char *kInsert = "Inclusão";
inline constexpr const char *kUpdate = "Alteração";
inline constexpr const char *kDelete = "Exclusão";
inline constexpr const char *kSettings = "Configurações";
inline constexpr const char *kPurge = "Apagar eventos";
inline constexpr const char *kImport = "Importação de eventos";
inline constexpr const char *kModuleUpload = "Envio ao módulo";
inline constexpr const char *kModuleReset = "Reset do módulo";
inline constexpr const char *kSilence = "Som silenciado";
inline constexpr const char *kRunawayCleared = "Disparo liberado";
inline constexpr const char *kTestStart = "Conta em teste";
inline constexpr const char *kTestEnd = "Fim do teste";
inline constexpr const char *kStorm = "Modo tempestade";
QStringList actions();

// Widths of the columns: longer texts are cut.
inline constexpr int kDescriptionWidth = 300;
inline constexpr int kValuesWidth = 4000;

struct Entry {
    QString acao;
    QString descricao;
    QString conta; // the account it concerns, when any
    QString antes;
    QString depois;
};

// Who acts in this process: the operator on shift and the workstation. Read by every write,
// from any thread.
void setOperator(const QString &nome);
QString currentOperator();
void setStation(const QString &nome);
QString station();
// The clock of the rows' moments (the system's by default).
void setClock(const Clock *clock);
QDateTime now();

// Inserts the row in the connection's open transaction (or on its own, committed at once,
// when none is open).
bool write(QSqlDatabase db, const Entry &e, QString *error = nullptr);
// The row alone, in a transaction of its own: for what is no database change (a shift, the
// settings file, a module upload).
bool writeAlone(QSqlDatabase db, const Entry &e, QString *error = nullptr);

// "COLUNA=valor; …" of the row that the select (its values bound in order) finds: every
// column with a value, passwords masked. Empty when no row.
QString snapshot(QSqlDatabase db, const QString &select, const QVariantList &values);
// The columns that differ between two snapshots, as two texts (before, after); a password
// that changed is told as changed, never shown.
std::pair<QString, QString> difference(const QString &before, const QString &after);
// "[Seção]Chave=valor; …" of an ini file as it is, passwords included: only for difference().
QString iniSnapshot(const QString &path);
// "nome=valor; …" of pairs given, in their order.
QString fields(std::initializer_list<std::pair<const char *, QVariant>> values);

// Runs change in one transaction with its audit row: the row that select finds is read
// before and after, and an update keeps only the columns that changed. Nothing is kept, audit
// row included, when change fails (false) or the row cannot be written. An Entry whose acao is
// empty is filled as an insert, an update or a delete from what the snapshots show. A change
// of the key finds the row after by afterValues.
bool change(QSqlDatabase db, Entry e, const QString &select, const QVariantList &values,
            const std::function<bool()> &doIt, QString *error = nullptr,
            const QVariantList *afterValues = nullptr);

} // namespace audit

} // namespace tulmo
