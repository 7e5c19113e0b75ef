#include "ColumnLimits.h"

#include "core/common/TextCodec.h"

#include <QSqlError>

namespace tulmo::ColumnLimits {

namespace {
// Whether Windows-1252 has the character: its table maps it to a byte that reads back as it.
bool inWindows1252(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return true;
    if (u >= 0x80 && u <= 0x9F) return false; // the engine's table has no C1 controls
    return fromWindows1252(toWindows1252(QString(c))) == QString(c);
}
} // namespace

QString unstorableCharacter(const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            return text.mid(i, 2);
        if (!inWindows1252(c)) return QString(c);
    }
    return QString();
}

QString rangeMessage(const QString &field, int min, int max) {
    return QStringLiteral("O campo \"%1\" aceita números de %2 a %3.").arg(field).arg(min).arg(max);
}

QString characterMessage(const QString &subject, const QString &character) {
    return QStringLiteral("%1 contém um caractere que o banco não aceita: %2")
        .arg(subject, character);
}

QString characterFault(const QString &subject, const QString &text) {
    const QString c = unstorableCharacter(text);
    return c.isEmpty() ? QString() : characterMessage(subject, c);
}

QString valueReason(const QSqlError &error) {
    const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
    auto has = [&text](const char *words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    // The engine's first line ("arithmetic exception, numeric overflow, or string
    // truncation") is the same for all of these; its second line tells them apart.
    if (has("transliterate"))
        return QStringLiteral("Um dos campos contém um caractere que o banco não aceita.");
    if (has("right truncation"))
        return QStringLiteral("Um dos textos é mais longo do que o campo aceita.");
    if (has("out of range"))
        return QStringLiteral("Um dos números está fora da faixa que o campo aceita.");
    if (has("conversion error"))
        return QStringLiteral("Um dos valores não pôde ser convertido para o tipo do campo.");
    if (has("numeric overflow, or string truncation"))
        return QStringLiteral("Um dos valores não cabe no seu campo.");
    return QString();
}

} // namespace tulmo::ColumnLimits
