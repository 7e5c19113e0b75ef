#pragma once

#include "core/common/Clock.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QStringList>

namespace tulmo {

// A text view's lines kept in memory for a window that may be shown later: the settings
// dialog's port monitor, the main window's raw-data memo. Bounded in lines and in the length
// of a line, so months of traffic or a flood of garbage cannot grow it (or the views that
// show it, which keep as many lines) without end. Each line keeps the time it came and the
// receiver (slot) it came from, so a monitor can show the time and follow one receiver.
class LineLog : public QObject {
    Q_OBJECT
public:
    // Device frames are a few dozen characters; longer lines are garbage, shown in part.
    static constexpr qsizetype kMaxColumns = 1024;

    struct Entry {
        QDateTime time;
        int slot = 0; // 0: not of one receiver
        QString text;
    };

    explicit LineLog(int maxLines = 5000, QObject *parent = nullptr)
        : QObject(parent)
        , m_max(maxLines) {}

    int maxLines() const { return m_max; }
    // The clock that stamps the lines; the system's until set.
    void setClock(const Clock *clock) { m_clock = clock; }

    // A line as a text view or a log shows it: the control bytes of a frame (0x0D padding, the
    // 0x14 end) would break the line or vanish, so each shows as its code, "<0D>", "<14>".
    static QString printable(const QString &line) {
        QString text;
        text.reserve(line.size());
        for (const QChar c : line) {
            if (c.unicode() < 0x20)
                text += QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
            else
                text += c;
        }
        return text;
    }

    void append(const QString &line) { append(0, line); }
    // A line of receiver (slot) k.
    void append(int slot, const QString &line) {
        const QString text =
            line.size() > kMaxColumns
                ? line.left(kMaxColumns) + QStringLiteral(" …(+%1)").arg(line.size() - kMaxColumns)
                : line;
        Entry e{m_clock ? m_clock->now() : QDateTime::currentDateTime(), slot, text};
        m_lines.append(text);
        m_entries.append(e);
        if (m_lines.size() > m_max) {
            m_lines.remove(0, m_lines.size() - m_max);
            m_entries.remove(0, m_entries.size() - m_max);
        }
        emit lineAdded(text);
        emit entryAdded(e);
    }
    void clear() {
        m_lines.clear();
        m_entries.clear();
        emit cleared();
    }
    const QStringList &lines() const { return m_lines; }
    const QList<Entry> &entries() const { return m_entries; }

signals:
    void lineAdded(const QString &line);
    void entryAdded(const tulmo::LineLog::Entry &entry);
    void cleared();

private:
    int m_max;
    const Clock *m_clock = nullptr;
    QStringList m_lines;
    QList<Entry> m_entries;
};

} // namespace tulmo
