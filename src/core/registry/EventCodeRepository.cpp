#include "EventCodeRepository.h"

#include "core/operators/AuditTrail.h"
#include "core/store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace tulmo {

namespace {

struct ColumnInfo {
    const char *name;
    int width;
};
constexpr ColumnInfo kColumns[EventCode::ColumnCount] = {
    {"CODIGO_EVENTO", 4}, {"DESCRICAO", 40}, {"TIPO", 0},         {"REGISTRO_AUTOMATICO", 0},
    {"ENVIO_SMS", 0},     {"PRIORIDADE", 0}, {"SOM_CONTINUO", 0}, {"SOM", 200},
};

bool failed(const QSqlError &error, QString *errorText) {
    if (errorText) *errorText = error.text();
    return false;
}

// Empty text and null numbers are written as null, as the table editor always left them.
QVariant textOrNull(const QVariant &v) {
    const QString s = v.toString();
    return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
}

void bindRow(QSqlQuery &q, const EventCode &row) {
    q.bindValue(QStringLiteral(":codigo"), row.codigo());
    q.bindValue(QStringLiteral(":descricao"), textOrNull(row[EventCode::Descricao]));
    q.bindValue(QStringLiteral(":tipo"), row[EventCode::Tipo]);
    q.bindValue(QStringLiteral(":registro"), row[EventCode::RegistroAutomatico]);
    q.bindValue(QStringLiteral(":sms"), row[EventCode::EnvioSms]);
    q.bindValue(QStringLiteral(":prioridade"), row[EventCode::Prioridade]);
    q.bindValue(QStringLiteral(":continuo"), row[EventCode::SomContinuo]);
    q.bindValue(QStringLiteral(":som"), textOrNull(row[EventCode::Som]));
}

const QString kInsert =
    QStringLiteral("Insert Into EVENTOS_PADRAO\n"
                   "( CODIGO_EVENTO, DESCRICAO, TIPO, REGISTRO_AUTOMATICO, ENVIO_SMS, PRIORIDADE,\n"
                   "  SOM_CONTINUO, SOM)\n"
                   "Values\n"
                   "( :codigo, :descricao, :tipo, :registro, :sms, :prioridade, :continuo, :som)");

} // namespace

int EventCode::textWidth(int column) {
    return kColumns[column].width;
}

namespace EventCodeRepository {

QList<EventCode> list(QSqlDatabase db, bool *ok, QString *errorText) {
    QList<EventCode> rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool done =
        q.exec(QStringLiteral("Select * from EVENTOS_PADRAO\norder by CODIGO_EVENTO"));
    if (ok) *ok = done;
    if (!done) {
        failed(q.lastError(), errorText);
        return rows;
    }
    QList<int> position;
    for (int c = 0; c < EventCode::ColumnCount; ++c)
        position << q.record().indexOf(QLatin1String(kColumns[c].name));
    while (q.next()) {
        EventCode row;
        for (int c = 0; c < EventCode::ColumnCount; ++c)
            if (position[c] >= 0) row[c] = q.value(position[c]);
        rows << row;
    }
    // Reading ends the statement's transaction: nothing stays open while the grid is shown.
    q.finish();
    return rows;
}

bool exists(QSqlDatabase db, const QString &codigo, bool *ok) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool done =
        q.prepare(QStringLiteral(
            "Select CODIGO_EVENTO from EVENTOS_PADRAO where CODIGO_EVENTO =:codigo")) &&
        (q.bindValue(QStringLiteral(":codigo"), codigo), q.exec());
    if (ok) *ok = done;
    return done && q.next();
}

void applyDefaults(EventCode &row) {
    auto fill = [&row](int column, int value) {
        if (row[column].isNull() || row[column].toString().trimmed().isEmpty()) row[column] = value;
    };
    fill(EventCode::Tipo, 8);
    fill(EventCode::RegistroAutomatico, 1);
    fill(EventCode::Prioridade, 1);
}


static bool updateRow(QSqlDatabase db, const QString &codigoAnterior, const EventCode &row,
                      QString *errorText) {
    TransactionGuard t(db);
    if (!t.begun()) return failed(db.lastError(), errorText);
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Update EVENTOS_PADRAO Set\n"
                                  "  CODIGO_EVENTO       = :codigo,\n"
                                  "  DESCRICAO           = :descricao,\n"
                                  "  TIPO                = :tipo,\n"
                                  "  REGISTRO_AUTOMATICO = :registro,\n"
                                  "  ENVIO_SMS           = :sms,\n"
                                  "  PRIORIDADE          = :prioridade,\n"
                                  "  SOM_CONTINUO        = :continuo,\n"
                                  "  SOM                 = :som\n"
                                  "Where CODIGO_EVENTO = :codigo_anterior")))
        return failed(q.lastError(), errorText);
    bindRow(q, row);
    q.bindValue(QStringLiteral(":codigo_anterior"), codigoAnterior);
    if (!q.exec()) return failed(q.lastError(), errorText);
    if (q.numRowsAffected() < 1) {
        if (errorText)
            *errorText = QStringLiteral("o código \"%1\" não existe mais").arg(codigoAnterior);
        return false;
    }
    return t.commit() || failed(db.lastError(), errorText);
}

static bool removeRow(QSqlDatabase db, const QString &codigo, QString *errorText) {
    TransactionGuard t(db);
    if (!t.begun()) return failed(db.lastError(), errorText);
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("Delete From EVENTOS_PADRAO\nWhere CODIGO_EVENTO = :codigo")))
        return failed(q.lastError(), errorText);
    q.bindValue(QStringLiteral(":codigo"), codigo);
    if (!q.exec()) return failed(q.lastError(), errorText);
    return t.commit() || failed(db.lastError(), errorText);
}

static bool insertRows(QSqlDatabase db, const QList<EventCode> &rows, QString *errorText) {
    TransactionGuard t(db);
    if (!t.begun()) return failed(db.lastError(), errorText);
    QSqlQuery q(db);
    if (!q.prepare(kInsert)) return failed(q.lastError(), errorText);
    for (const EventCode &row : rows) {
        bindRow(q, row);
        if (!q.exec()) return failed(q.lastError(), errorText);
    }
    q.finish();
    return t.commit() || failed(db.lastError(), errorText);
}

namespace {
const QString kCodeRow = QStringLiteral("select * from EVENTOS_PADRAO where CODIGO_EVENTO = ?");
audit::Entry codeEntry(const QString &codigo) {
    return {QString(), QStringLiteral("Código de evento ") + codigo, QString(), QString(), QString()};
}
} // namespace

bool insert(QSqlDatabase db, const EventCode &row, QString *errorText) {
    const QString codigo = row.codigo();
    return audit::change(db, codeEntry(codigo), kCodeRow, {codigo},
                         [&] { return insertRows(db, {row}, errorText); }, errorText);
}

bool update(QSqlDatabase db, const QString &codigoAnterior, const EventCode &row,
            QString *errorText) {
    const QVariantList after{row.codigo()};
    return audit::change(db, codeEntry(codigoAnterior), kCodeRow, {codigoAnterior},
                         [&] { return updateRow(db, codigoAnterior, row, errorText); }, errorText,
                         &after);
}

bool remove(QSqlDatabase db, const QString &codigo, QString *errorText) {
    return audit::change(db, codeEntry(codigo), kCodeRow, {codigo},
                         [&] { return removeRow(db, codigo, errorText); }, errorText);
}

// The catalogue of a new database: written by the station itself, not by an operator.
bool insertAll(QSqlDatabase db, const QList<EventCode> &rows, QString *errorText) {
    return insertRows(db, rows, errorText);
}

} // namespace EventCodeRepository

} // namespace tulmo
