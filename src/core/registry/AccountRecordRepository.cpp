#include "AccountRecordRepository.h"

#include "core/registry/ColumnLimits.h"
#include "core/operators/AuditTrail.h"
#include "core/store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTime>

namespace tulmo::AccountRecordRepository {

namespace {

// The edited columns and their fields, in the order of the update statement; the parameter
// of each is the column's name as the statements write it.
struct Column {
    const char *param;
    QString AccountRecord::*field;
    const char *subject; // the field in a sentence to the operator
};
const Column kColumns[] = {
    {"Nome", &AccountRecord::nome, "O nome"},
    {"Telefone1", &AccountRecord::telefone1, "O telefone residencial"},
    {"Telefone2", &AccountRecord::telefone2, "O telefone comercial"},
    {"Celular", &AccountRecord::celular, "O celular"},
    {"Endereco1", &AccountRecord::endereco1, "O endereço residencial"},
    {"Endereco2", &AccountRecord::endereco2, "O endereço comercial"},
    {"Bairro1", &AccountRecord::bairro1, "O bairro"},
    {"Bairro2", nullptr, nullptr},
    {"Cep1", &AccountRecord::cep1, "O CEP"},
    {"Cep2", nullptr, nullptr},
    {"Cidade", &AccountRecord::cidade, "A cidade"},
    {"Empresa", &AccountRecord::empresa, "A empresa"},
    {"Animais", &AccountRecord::animais, "O campo Animais"},
    {"Senha", &AccountRecord::senha, "A senha"},
    {"Equipamento", &AccountRecord::equipamento, "O equipamento"},
    {"Rg", &AccountRecord::rg, "O RG"},
    {"Cpf", &AccountRecord::cpf, "O CPF"},
    {"Cnpj", &AccountRecord::cnpj, "O CNPJ"},
    {"IE", &AccountRecord::ie, "A inscrição estadual"},
    {"Obs", &AccountRecord::obs, "A observação"},
    {"Foto1", &AccountRecord::foto1, "O caminho da foto 1"},
    {"Foto2", &AccountRecord::foto2, "O caminho da foto 2"},
    {"Email", &AccountRecord::email, "O e-mail"},
    {"Fone_IdeCall", &AccountRecord::foneIdecall, "O telefone identificado"},
    {"Evento_IdeCall", &AccountRecord::eventoIdecall, "O evento identificado"},
};

bool failed(const QSqlQuery &q, QString *errorText) {
    if (errorText) *errorText = q.lastError().text();
    return false;
}

QString param(const char *name) {
    return QLatin1Char(':') + QLatin1String(name);
}

// A control's text is written as typed: an empty field is an empty text, not a null.
QVariant asTyped(const QString &text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

void bindFields(QSqlQuery &q, const AccountRecord &rec) {
    for (const Column &c : kColumns)
        q.bindValue(param(c.param),
                    c.field ? asTyped(rec.*(c.field)) : QVariant(QMetaType(QMetaType::QString)));
}

std::optional<int> toInt(const QString &text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

// TEMPO_ATRASO is a SMALLINT, and the driver writes a larger number into it wrapped round
// (99999 minutes would be stored as -31073, an account silent at once): refused instead.
bool fitsTempoAtraso(int minutes, QString *errorText, QString *reason) {
    if (minutes >= 0 && minutes <= kMaxTempoAtraso) return true;
    if (errorText)
        *errorText = QStringLiteral("%1 minutos não cabem em TEMPO_ATRASO (0 a %2)")
                         .arg(minutes)
                         .arg(kMaxTempoAtraso);
    if (reason) *reason = tempoAtrasoRange();
    return false;
}

// A text the database cannot store fails the whole statement with a reason that names no
// column: found here first, with the field it is in.
bool storable(const AccountRecord &rec, QString *errorText, QString *reason) {
    const std::optional<FieldFault> f = checkCharacters(rec);
    if (!f) return true;
    if (errorText) *errorText = f->message;
    if (reason) *reason = f->message;
    return false;
}

bool refused(const QSqlQuery &q, QString *errorText, QString *reason) {
    if (reason) *reason = ColumnLimits::valueReason(q.lastError());
    return failed(q, errorText);
}

} // namespace

QString tempoAtrasoRange() {
    return ColumnLimits::rangeMessage(QStringLiteral("Tempo Inativo"), 0, kMaxTempoAtraso);
}

std::optional<FieldFault> checkTempoAtraso(const AccountRecord &rec) {
    const QString text = rec.tempoAtraso.trimmed();
    if (text.isEmpty()) return std::nullopt; // the insertion's default, or the update's refusal
    bool ok = false;
    const qlonglong minutes = text.toLongLong(&ok);
    if (ok && minutes >= 0 && minutes <= kMaxTempoAtraso) return std::nullopt;
    if (!ok) return std::nullopt; // not a number: as empty
    return FieldFault{QStringLiteral("TEMPO_ATRASO"), tempoAtrasoRange()};
}

std::optional<FieldFault> checkCharacters(const AccountRecord &rec) {
    QString fault = ColumnLimits::characterFault(QStringLiteral("A conta"), rec.conta);
    if (!fault.isEmpty()) return FieldFault{QStringLiteral("CONTA"), fault};
    for (const Column &c : kColumns) {
        if (!c.field) continue;
        fault = ColumnLimits::characterFault(QString::fromUtf8(c.subject), rec.*(c.field));
        if (!fault.isEmpty()) return FieldFault{QString::fromLatin1(c.param).toUpper(), fault};
    }
    return std::nullopt;
}

QString padNumber(const QString &text) {
    return (QStringLiteral("000000") + text.trimmed()).right(6);
}

std::optional<QString> numberAfter(const QString &last) {
    bool ok = false;
    const qlonglong n = last.trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return (QStringLiteral("000000") + QString::number(n + 1)).right(6);
}

std::optional<QString> Buscar_Numero_Nova_Conta(QSqlDatabase db, QString *errorText) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("Select  First 1 Cli.Conta\nFrom  Clientes Cli\n"
                               "Order By  Cli.Conta Desc"))) {
        failed(q, errorText);
        return std::nullopt;
    }
    const QString last = q.next() ? q.value(0).toString() : QStringLiteral("0");
    std::optional<QString> next = numberAfter(last);
    if (!next && errorText) *errorText = QStringLiteral("\"%1\" não é um número").arg(last);
    return next;
}

bool Verificar_Conta_Existente(QSqlDatabase db, const QString &conta, bool *ok) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool ran = q.prepare(QStringLiteral("Select  First 1 Cli.Conta\nFrom  Clientes Cli\n"
                                              "Where  Cli.Conta = :Conta")) &&
                     (q.bindValue(QStringLiteral(":Conta"), conta), q.exec());
    if (ok) *ok = ran;
    return ran && q.next();
}

std::optional<AccountRecord> find(QSqlDatabase db, const QString &conta, bool *ok) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool ran =
        q.prepare(QStringLiteral("Select * From Clientes Cli\nWhere Cli.Conta = :Conta")) &&
        (q.bindValue(QStringLiteral(":Conta"), conta), q.exec());
    if (ok) *ok = ran;
    if (!ran || !q.next()) return std::nullopt;
    auto text = [&q](const char *column) { return q.value(QLatin1String(column)).toString(); };
    AccountRecord r;
    r.conta = text("CONTA");
    for (const Column &c : kColumns)
        if (c.field) r.*(c.field) = q.value(QString::fromLatin1(c.param).toUpper()).toString();
    const QVariant tempo = q.value(QStringLiteral("TEMPO_ATRASO"));
    r.tempoAtraso = tempo.isNull() ? QString() : QString::number(tempo.toInt());
    r.dataCadastro = q.value(QStringLiteral("DATA_CADASTRO"));
    r.id = q.value(QStringLiteral("ID"));
    return r;
}

namespace {
const QString kAccountRow = QStringLiteral("select * from CLIENTES where CONTA = ?");
audit::Entry accountEntry(const AccountRecord &rec) {
    return {QString(), QStringLiteral("Conta %1 - %2").arg(rec.conta, rec.nome), rec.conta,
            QString(), QString()};
}
bool insertRow(QSqlDatabase db, const AccountRecord &rec, const QDateTime &now,
               QString *errorText, QString *reason);
bool updateRow(QSqlDatabase db, const AccountRecord &rec, QString *errorText, QString *reason);
} // namespace

bool insert(QSqlDatabase db, const AccountRecord &rec, const QDateTime &now, QString *errorText,
            QString *reason) {
    return audit::change(db, accountEntry(rec), kAccountRow, {asTyped(rec.conta)},
                         [&] { return insertRow(db, rec, now, errorText, reason); }, errorText);
}

bool update(QSqlDatabase db, const AccountRecord &rec, QString *errorText, QString *reason) {
    return audit::change(db, accountEntry(rec), kAccountRow, {rec.conta},
                         [&] { return updateRow(db, rec, errorText, reason); }, errorText);
}

namespace {
bool insertRow(QSqlDatabase db, const AccountRecord &rec, const QDateTime &now,
               QString *errorText, QString *reason) {
    QSqlQuery q(db);
    const QString sql =
        QStringLiteral("Insert Into Clientes\n"
                       "( Conta, Nome, Telefone1, Telefone2, Celular, Endereco1,\n"
                       "Endereco2, Bairro1, Bairro2, Cep1, Cep2, Cidade,\n"
                       "Empresa, Animais, Senha, Equipamento, Rg, Cpf,\n"
                       "Cnpj, IE, Obs, Foto1, Foto2, Email,\n"
                       "Fone_IdeCall, Evento_IdeCall, Data_Cadastro,\n"
                       "Ultimo_Evento, Evento_Atrasado, Tempo_Atraso)\n"
                       "Values\n"
                       "( :Conta, :Nome, :Telefone1, :Telefone2, :Celular, :Endereco1,\n"
                       ":Endereco2, :Bairro1, :Bairro2, :Cep1, :Cep2, :Cidade,\n"
                       ":Empresa, :Animais, :Senha, :Equipamento, :Rg, :Cpf,\n"
                       ":Cnpj, :IE, :Obs, :Foto1, :Foto2, :Email,\n"
                       ":Fone_IdeCall, :Evento_IdeCall, :Data_Cadastro ,\n"
                       ":Ultimo_Evento, :Evento_Atrasado, :Tempo_Atraso)");
    const int tempo = toInt(rec.tempoAtraso).value_or(kDefaultTempoAtraso);
    if (!fitsTempoAtraso(tempo, errorText, reason) || !storable(rec, errorText, reason))
        return false;
    if (!q.prepare(sql)) return failed(q, errorText);
    q.bindValue(QStringLiteral(":Conta"), asTyped(rec.conta));
    bindFields(q, rec);
    q.bindValue(QStringLiteral(":Data_Cadastro"), now);
    q.bindValue(QStringLiteral(":Ultimo_Evento"), now);
    q.bindValue(QStringLiteral(":Evento_Atrasado"), 0);
    q.bindValue(QStringLiteral(":Tempo_Atraso"), tempo);
    return q.exec() || refused(q, errorText, reason);
}

bool updateRow(QSqlDatabase db, const AccountRecord &rec, QString *errorText, QString *reason) {
    const std::optional<int> tempo = toInt(rec.tempoAtraso);
    if (!tempo) {
        // StrToInt of the original: no default on alteration.
        if (errorText)
            *errorText = QStringLiteral("\"%1\" não é um número de minutos").arg(rec.tempoAtraso);
        if (reason) *reason = QStringLiteral("O campo \"Tempo Inativo\" precisa de um número.");
        return false;
    }
    if (!fitsTempoAtraso(*tempo, errorText, reason) || !storable(rec, errorText, reason))
        return false;
    QStringList lines{QStringLiteral("Update Clientes Set")};
    for (const Column &c : kColumns)
        lines << QStringLiteral("  %1 = :%2,")
                     .arg(QLatin1String(c.param), -15)
                     .arg(QLatin1String(c.param));
    lines << QStringLiteral("  %1 = :Tempo_Atraso").arg(QLatin1String("Tempo_Atraso"), -15);
    lines << QStringLiteral("Where Conta = :Conta");
    QSqlQuery q(db);
    if (!q.prepare(lines.join(QLatin1Char('\n')))) return failed(q, errorText);
    bindFields(q, rec);
    q.bindValue(QStringLiteral(":Tempo_Atraso"), *tempo);
    q.bindValue(QStringLiteral(":Conta"), rec.conta);
    if (!q.exec()) return refused(q, errorText, reason);
    if (q.numRowsAffected() < 1) {
        if (errorText) *errorText = QStringLiteral("a conta \"%1\" não existe mais").arg(rec.conta);
        return false;
    }
    return true;
}
} // namespace

bool discardUnsaved(QSqlDatabase db, const QString &conta, QString *errorText) {
    TransactionGuard transaction(db);
    if (!transaction.begun()) {
        if (errorText) *errorText = db.lastError().text();
        return false;
    }
    for (const char *table : {"Usuarios", "Zonas", "Particoes", "Quadro_Horarios"}) {
        QSqlQuery q(db);
        // The account is looked for in the same transaction as the deletion, so one saved
        // meanwhile by another workstation keeps its rows.
        if (!q.prepare(QStringLiteral("Delete From %1\nWhere CONTA = :Conta\n"
                                      "and not exists (Select 1 From Clientes Cli "
                                      "Where Cli.Conta = :ContaCliente)")
                           .arg(QLatin1String(table))))
            return failed(q, errorText);
        q.bindValue(QStringLiteral(":Conta"), conta);
        q.bindValue(QStringLiteral(":ContaCliente"), conta);
        if (!q.exec()) return failed(q, errorText);
    }
    if (!transaction.commit()) {
        if (errorText) *errorText = db.lastError().text();
        return false;
    }
    return true;
}

std::optional<WeeklySchedule> readSchedule(QSqlDatabase db, const QString &conta, bool *found,
                                           QString *errorText) {
    if (found) *found = false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("Select * From Quadro_Horarios Cli\nWhere Cli.Conta = :Conta"))) {
        failed(q, errorText);
        return std::nullopt;
    }
    q.bindValue(QStringLiteral(":Conta"), conta);
    if (!q.exec()) {
        failed(q, errorText);
        return std::nullopt;
    }
    const QSqlRecord r = q.record();
    const int dia = r.indexOf(QStringLiteral("DIA"));
    const int hora = r.indexOf(QStringLiteral("HORA"));
    const int marcado = r.indexOf(QStringLiteral("MARCADO"));
    WeeklySchedule s;
    // Placed by each row's own day and hour rather than by the order the rows come in: the
    // select has no ordering, and a schedule written any other way still lands where it says.
    while (q.next()) {
        if (found) *found = true;
        const QTime t = q.value(hora).toTime();
        if (t.isValid())
            s.set(WeeklySchedule::dayOf(q.value(dia).toString()), t.hour(),
                  q.value(marcado).toInt() == 1);
    }
    return s;
}

namespace {
// "DOM=08,09; SEG=…": the hours marked armed, day by day.
QString scheduleText(const WeeklySchedule &schedule) {
    QStringList days;
    for (int d = 0; d < WeeklySchedule::kDays; ++d) {
        QStringList hours;
        for (int h = 0; h < WeeklySchedule::kHours; ++h)
            if (schedule.marked(d, h)) hours << QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0'));
        if (!hours.isEmpty()) days << WeeklySchedule::dayCode(d) + QLatin1Char('=') + hours.join(QLatin1Char(','));
    }
    return days.join(QStringLiteral("; "));
}
} // namespace

bool writeSchedule(QSqlDatabase db, const QString &conta, const WeeklySchedule &schedule,
                   QString *errorText) {
    TransactionGuard transaction(db);
    if (!transaction.begun()) {
        if (errorText) *errorText = db.lastError().text();
        return false;
    }
    bool found = false;
    const std::optional<WeeklySchedule> before = readSchedule(db, conta, &found, errorText);
    if (!before) return false;
    if (!audit::write(db, {QString::fromUtf8(found ? audit::kUpdate : audit::kInsert),
                           QStringLiteral("Quadro de horários da conta ") + conta, conta,
                           found ? scheduleText(*before) : QString(), scheduleText(schedule)},
                      errorText))
        return false;
    {
        QSqlQuery del(db);
        if (!del.prepare(QStringLiteral("Delete From Quadro_Horarios\nWhere Conta = :Conta")))
            return failed(del, errorText);
        del.bindValue(QStringLiteral(":Conta"), conta);
        if (!del.exec()) return failed(del, errorText);
    }
    QSqlQuery ins(db);
    if (!ins.prepare(QStringLiteral("Insert Into QUADRO_HORARIOS\n( CONTA, DIA, HORA, MARCADO )\n"
                                    "Values\n( :Conta, :Dia, :Hora, :Marcado)")))
        return failed(ins, errorText);
    for (int h = 0; h < WeeklySchedule::kHours; ++h) {
        for (int d = 0; d < WeeklySchedule::kDays; ++d) {
            ins.bindValue(QStringLiteral(":Conta"), conta);
            ins.bindValue(QStringLiteral(":Dia"), WeeklySchedule::dayCode(d));
            // "0:00:00" … "23:00:00" converted to a time.
            ins.bindValue(QStringLiteral(":Hora"), QTime(h, 0, 0));
            ins.bindValue(QStringLiteral(":Marcado"), schedule.marked(d, h) ? 1 : 0);
            if (!ins.exec()) return failed(ins, errorText);
        }
    }
    if (!transaction.commit()) {
        if (errorText) *errorText = db.lastError().text();
        return false;
    }
    return true;
}

} // namespace tulmo::AccountRecordRepository
