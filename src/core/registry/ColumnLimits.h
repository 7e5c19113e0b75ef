#pragma once

#include <QString>

class QSqlError;

namespace tulmo::ColumnLimits {

// What a SMALLINT column holds.
inline constexpr int kSmallIntMin = -32768;
inline constexpr int kSmallIntMax = 32767;

// The first character of text (a whole character, an emoji's two halves together) that the
// WIN1252 database cannot store; empty when it can store all of them. The connection speaks
// UTF-8, so such a character reaches the engine and fails the whole statement there.
QString unstorableCharacter(const QString &text);

// "O campo "ZONA" aceita números de 0 a 32767." The message of a number outside its column.
QString rangeMessage(const QString &field, int min, int max);
// "O nome contém um caractere que o banco não aceita: 😀" — subject starts the sentence.
QString characterMessage(const QString &subject, const QString &character);
// The reason for `subject` when its text holds a character the database cannot store, else
// empty.
QString characterFault(const QString &subject, const QString &text);

// A database refusal caused by a value, in Portuguese (a character it cannot store, a text or
// number too large for its column, a value it cannot convert); empty for any other failure.
QString valueReason(const QSqlError &error);

} // namespace tulmo::ColumnLimits
