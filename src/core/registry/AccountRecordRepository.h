#pragma once

#include "core/registry/WeeklySchedule.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <optional>

namespace tulmo {

// The CLIENTES columns the account form edits, each the text of its control as typed
// (masked fields give their digits only). BAIRRO2 and CEP2 have no control: they are
// written as null.
struct AccountRecord {
    QString conta;
    QString nome;
    QString telefone1, telefone2, celular;
    QString endereco1, endereco2;
    QString bairro1, cep1, cidade;
    QString empresa, animais, senha, equipamento;
    QString rg, cpf, cnpj, ie;
    QString obs;
    QString foto1, foto2;
    QString email;
    QString foneIdecall, eventoIdecall;
    QString tempoAtraso; // the text of "Tempo Inativo"
    // Only read: the database stamps DATA_CADASTRO on insertion and assigns ID.
    QVariant dataCadastro;
    QVariant id;
};

// The statements of the account form over CLIENTES and QUADRO_HORARIOS. Failures
// come back with the database's text in errorText.
namespace AccountRecordRepository {

// What "Tempo Inativo" becomes on insertion when left empty (or not a number).
inline constexpr int kDefaultTempoAtraso = 1440;
// The most minutes TEMPO_ATRASO (a SMALLINT) holds; more is refused, insertion and
// alteration alike.
inline constexpr int kMaxTempoAtraso = 32767;

// A field whose value the database cannot hold: its CLIENTES column and what to tell the
// operator.
struct FieldFault {
    QString column;
    QString message;
};
// "O campo "Tempo Inativo" aceita números de 0 a 32767."
QString tempoAtrasoRange();
// "Tempo Inativo" outside TEMPO_ATRASO's range. An empty or non-numeric text is not this
// check's affair (the insertion's default, the alteration's refusal).
std::optional<FieldFault> checkTempoAtraso(const AccountRecord &rec);
// The first field (in the order of the statements) holding a character the database cannot
// store, with that character named.
std::optional<FieldFault> checkCharacters(const AccountRecord &rec);

// The account-number rule of ME_Conta: trimmed, "000000" in front, the last six kept.
QString padNumber(const QString &text);
// The number after last: an integer plus one written after "000000", the last six kept
// ("000041" -> "000042", "999999" -> "000000"). Nothing when last is not an integer.
std::optional<QString> numberAfter(const QString &last);

// The number after the greatest account number in text order,
// "000001" on an empty table. Nothing when the query fails or the greatest is not a number.
std::optional<QString> Buscar_Numero_Nova_Conta(QSqlDatabase db, QString *errorText = nullptr);
// Whether a CLIENTES row has that number. ok is false when the query failed.
bool Verificar_Conta_Existente(QSqlDatabase db, const QString &conta, bool *ok = nullptr);

// The account of that number. ok is false when the query failed.
std::optional<AccountRecord> find(QSqlDatabase db, const QString &conta, bool *ok = nullptr);

// The insertion of "SALVAR": DATA_CADASTRO and ULTIMO_EVENTO now, EVENTO_ATRASADO 0, and
// TEMPO_ATRASO from the record (kDefaultTempoAtraso when it is not a number). Refused
// before the statement when a field cannot be stored (checkTempoAtraso, checkCharacters).
// reason: in Portuguese, when a field's value is at fault (which field, and why); empty
// for any other failure.
bool insert(QSqlDatabase db, const AccountRecord &rec, const QDateTime &now,
            QString *errorText = nullptr, QString *reason = nullptr);
// The alteration of "SALVAR", by CONTA. Fails when TEMPO_ATRASO is not a number, and when
// the account is gone; reason as for insert.
bool update(QSqlDatabase db, const AccountRecord &rec, QString *errorText = nullptr,
            QString *reason = nullptr);
// The users, zones, partitions and schedule keyed by conta while no account of that number
// exists: what an account form typed for an account it never saved. An account that exists
// keeps every row. In one transaction.
bool discardUnsaved(QSqlDatabase db, const QString &conta, QString *errorText = nullptr);

// The account's stored schedule; found is false when it has no row at all. Each row sets the
// flag of its DIA and HORA. Nothing when the query failed.
std::optional<WeeklySchedule> readSchedule(QSqlDatabase db, const QString &conta, bool *found,
                                           QString *errorText = nullptr);
// "Gravar": the account's rows replaced by 168 rows, hour by hour and within an hour from
// "DOM" to "SAB", in one transaction: on any failure the stored schedule stays as it was.
bool writeSchedule(QSqlDatabase db, const QString &conta, const WeeklySchedule &schedule,
                   QString *errorText = nullptr);

} // namespace AccountRecordRepository

} // namespace tulmo
