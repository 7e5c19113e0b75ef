#include "TextCodec.h"

#include "RegularFile.h"

#include <QFile>
#include <QStringDecoder>

namespace tulmo {

namespace {
// 0x80..0x9F of Windows-1252; 0 marks the five undefined positions (kept as the C1 control).
const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
} // namespace

QString fromWindows1252(const QByteArray &bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0)
            out.append(QChar(kHigh[b - 0x80]));
        else
            out.append(QChar(char16_t(b)));
    }
    return out;
}

QByteArray toWindows1252(const QString &text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.append(char(u));
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i) {
            if (kHigh[i] == u && u != 0) {
                mapped = char(0x80 + i);
                break;
            }
        }
        if (u >= 0x80 && u <= 0x9F) mapped = char(u); // undefined positions round-trip
        out.append(mapped);
    }
    return out;
}

QString decodeWindowsText(const QByteArray &bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (!utf8.hasError()) return s;
    return fromWindows1252(bytes);
}

QStringList windowsTextLines(const QByteArray &bytes) {
    QString text = decodeWindowsText(bytes);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.isEmpty()) return {};
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return text.split(QLatin1Char('\n'));
}

QStringList readWindowsTextLines(const QString &path, qint64 maxBytes, bool *ok, QString *error) {
    QByteArray bytes;
    const FileCheck check = readReadable(path, maxBytes, &bytes);
    if (ok) *ok = check.ok();
    if (!check.ok()) {
        if (error) *error = check.error;
        return {};
    }
    return windowsTextLines(bytes);
}

} // namespace tulmo
