#pragma once

#include <QString>

#include <array>

namespace tulmo {

// An account's weekly arming schedule: one flag per weekday (Sunday to Saturday) and whole
// hour (00 to 23). A marked hour is one in which the alarm must be armed (the rearm check moves a
// disarmed account to "Aguardando Armar" during it). Stored as the 168 rows of
// QUADRO_HORARIOS.
class WeeklySchedule {
public:
    static constexpr int kDays = 7;
    static constexpr int kHours = 24;
    static constexpr int kSlots = kDays * kHours;

    // The default patterns of the group " Padrões ".
    enum class Pattern { Comercio, Industria, Residencia };

    // "DOM" for day 0 (Sunday) … "SAB" for day 6; empty outside.
    static QString dayCode(int day);
    // 0 for "DOM" … 6 for "SAB" (blanks of a CHAR column ignored); -1 for anything else.
    static int dayOf(const QString &code);

    // Every flag set, then the hours in which the alarm may be disarmed cleared.
    static WeeklySchedule pattern(Pattern p);

    bool marked(int day, int hour) const;
    void set(int day, int hour, bool marked);
    void setAll(bool marked);
    int markedCount() const;

    bool operator==(const WeeklySchedule &o) const { return m_flags == o.m_flags; }
    bool operator!=(const WeeklySchedule &o) const { return !(*this == o); }

private:
    static bool valid(int day, int hour) {
        return day >= 0 && day < kDays && hour >= 0 && hour < kHours;
    }
    std::array<bool, kSlots> m_flags{};
};

} // namespace tulmo
