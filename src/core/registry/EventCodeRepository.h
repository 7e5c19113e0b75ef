#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <array>

namespace tulmo {

// One row of EVENTOS_PADRAO, the event-code catalogue. The small integers may be null (an
// empty cell of the grid); the recording reads a null as 0.
struct EventCode {
    // The catalogue's columns in the order the grid shows them.
    enum Column {
        CodigoEvento,
        Descricao,
        Tipo,
        RegistroAutomatico,
        EnvioSms,
        Prioridade,
        SomContinuo,
        Som,
        ColumnCount
    };
    std::array<QVariant, ColumnCount> values;

    // Width of a text column (CODIGO_EVENTO 4, DESCRICAO 40, SOM 200); 0 for a number.
    static int textWidth(int column);
    static bool isNumber(int column) { return textWidth(column) == 0; }

    QVariant &operator[](int column) { return values[size_t(column)]; }
    const QVariant &operator[](int column) const { return values[size_t(column)]; }
    QString codigo() const { return values[CodigoEvento].toString(); }
};

// Reading and writing EVENTOS_PADRAO. Every change runs in a transaction of its own that is
// committed before the call returns, or rolled back whole; failures come back with the
// database's text in errorText.
namespace EventCodeRepository {

// Every code, by code. ok is false when the statement failed.
QList<EventCode> list(QSqlDatabase db, bool *ok = nullptr, QString *errorText = nullptr);
// Whether the code is in the catalogue; ok is false when the statement failed.
bool exists(QSqlDatabase db, const QString &codigo, bool *ok = nullptr);

// The values a row gets when saved with them empty: TIPO 8, REGISTRO_AUTOMATICO 1,
// PRIORIDADE 1.
void applyDefaults(EventCode &row);

bool insert(QSqlDatabase db, const EventCode &row, QString *errorText = nullptr);
// Finds the row by the code it had, so a new code moves it; a row that is gone is an error.
bool update(QSqlDatabase db, const QString &codigoAnterior, const EventCode &row,
            QString *errorText = nullptr);
bool remove(QSqlDatabase db, const QString &codigo, QString *errorText = nullptr);
// All rows or none.
bool insertAll(QSqlDatabase db, const QList<EventCode> &rows, QString *errorText = nullptr);

} // namespace EventCodeRepository

} // namespace tulmo
