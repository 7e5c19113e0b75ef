#include "ReceiverRecord.h"

#include "core/common/Fields.h"
#include "core/common/DateFormats.h"

namespace tulmo {

namespace {

bool decimal(const QString &s) {
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

int byteAt(const QString &d, int firstDigit) {
    return field::span(d, firstDigit, firstDigit + 1).toInt(nullptr, 16);
}

} // namespace

QString ReceiverRecord::digits(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex().toUpper());
}

QString ReceiverRecord::mapped(const QString &d, int first, int last) {
    QString s = field::span(d, first, last);
    s.replace(QLatin1Char('A'), QLatin1Char('0'));
    return s;
}

bool ReceiverRecord::isEvent(const QString &d) {
    return d.size() >= 2 && d.at(1) == QLatin1Char('4');
}

QDate ReceiverRecord::dateOfDay(int day) {
    int year = 2000;
    for (;;) {
        const int length = year % 4 == 0 ? 366 : 365;
        if (day < length) break;
        day -= length;
        ++year;
    }
    return QDate(year, 1, 1).addDays(day);
}

std::optional<ReceiverRecord::Event> ReceiverRecord::decode(const QString &d, QString *problem) {
    auto refuse = [problem](const QString &why) {
        if (problem) *problem = why;
        return std::nullopt;
    };
    if (d.size() < kDigits) return refuse(QStringLiteral("registro incompleto"));
    struct Field {
        const char *what; // the reason, with the field's digits for %1
        int first, last;
    };
    static const Field numeric[] = {{"código do evento inválido: \"%1\"", 10, 12},
                                    {"partição inválida: \"%1\"", 13, 14},
                                    {"zona ou usuário inválido: \"%1\"", 15, 17}};
    for (const Field &f : numeric) {
        const QString v = mapped(d, f.first, f.last);
        if (!decimal(v)) return refuse(QString::fromUtf8(f.what).arg(v));
    }
    const int day = field::span(d, 55, 58).toInt(nullptr, 16);
    const QDate date = dateOfDay(day);
    if (date.year() > 2099)
        return refuse(QStringLiteral("data fora do intervalo: dia %1 (%2)")
                          .arg(day)
                          .arg(date.toString(DateFormats::kDate)));
    const QTime time(byteAt(d, 59), byteAt(d, 61), byteAt(d, 63));
    if (!time.isValid())
        return refuse(QStringLiteral("hora inválida: %1:%2:%3")
                          .arg(byteAt(d, 59))
                          .arg(byteAt(d, 61))
                          .arg(byteAt(d, 63)));
    Event e;
    const QChar qualifier = d.at(8) == QLatin1Char('1') ? QLatin1Char('E') : QLatin1Char('R');
    e.frame = QStringLiteral("501") + d.at(0) + QStringLiteral(" 18") + mapped(d, 3, 6) +
              qualifier + mapped(d, 10, 31);
    // The flag read as the frame carries it (mapped), so the list and the event line agree:
    // an "A" is the receiver's 0, no caller number.
    e.ideCall = mapped(d, 20, 20) < QLatin1String("1")
                    ? QStringLiteral("Não Identificado")
                    : QLatin1Char('(') + mapped(d, 21, 22) + QLatin1Char(')') + mapped(d, 23, 30);
    e.when = QDateTime(date, time);
    return e;
}

} // namespace tulmo
