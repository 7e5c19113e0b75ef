#include "WeeklySchedule.h"

namespace tulmo {

namespace {
const char *const kDayCodes[WeeklySchedule::kDays] = {"DOM", "SEG", "TER", "QUA",
                                                      "QUI", "SEX", "SAB"};
enum { Sunday = 0, Monday = 1, Friday = 5, Saturday = 6 };

void clear(WeeklySchedule &s, int firstDay, int lastDay, int firstHour, int lastHour) {
    for (int d = firstDay; d <= lastDay; ++d)
        for (int h = firstHour; h <= lastHour; ++h)
            s.set(d, h, false);
}
} // namespace

QString WeeklySchedule::dayCode(int day) {
    if (day < 0 || day >= kDays) return QString();
    return QString::fromLatin1(kDayCodes[day]);
}

int WeeklySchedule::dayOf(const QString &code) {
    const QString c = code.trimmed();
    for (int d = 0; d < kDays; ++d)
        if (c == QLatin1String(kDayCodes[d])) return d;
    return -1;
}

WeeklySchedule WeeklySchedule::pattern(Pattern p) {
    WeeklySchedule s;
    s.setAll(true);
    switch (p) {
    case Pattern::Comercio:
        clear(s, Monday, Friday, 8, 11);
        clear(s, Monday, Friday, 14, 17);
        clear(s, Saturday, Saturday, 8, 11);
        break;
    case Pattern::Industria:
        clear(s, Monday, Friday, 7, 10);
        clear(s, Monday, Friday, 13, 16);
        clear(s, Saturday, Saturday, 7, 10);
        break;
    case Pattern::Residencia:
        clear(s, Sunday, Saturday, 8, 23);
        break;
    }
    return s;
}

bool WeeklySchedule::marked(int day, int hour) const {
    return valid(day, hour) && m_flags[size_t(hour * kDays + day)];
}

void WeeklySchedule::set(int day, int hour, bool marked) {
    if (valid(day, hour)) m_flags[size_t(hour * kDays + day)] = marked;
}

void WeeklySchedule::setAll(bool marked) {
    m_flags.fill(marked);
}

int WeeklySchedule::markedCount() const {
    int n = 0;
    for (bool f : m_flags)
        n += f ? 1 : 0;
    return n;
}

} // namespace tulmo
