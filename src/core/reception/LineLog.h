#pragma once

#include <QObject>
#include <QStringList>

namespace tulmo {

// A text view's lines kept in memory for a window that may be shown later: the settings
// dialog's port monitor, the main window's raw-data memo. Bounded in lines and in the length
// of a line, so months of traffic or a flood of garbage cannot grow it (or the views that
// show it, which keep as many lines) without end.
class LineLog : public QObject {
    Q_OBJECT
public:
    // Device frames are a few dozen characters; longer lines are garbage, shown in part.
    static constexpr qsizetype kMaxColumns = 1024;

    explicit LineLog(int maxLines = 5000, QObject *parent = nullptr)
        : QObject(parent)
        , m_max(maxLines) {}

    int maxLines() const { return m_max; }

    void append(const QString &line) {
        const QString text =
            line.size() > kMaxColumns
                ? line.left(kMaxColumns) + QStringLiteral(" …(+%1)").arg(line.size() - kMaxColumns)
                : line;
        m_lines.append(text);
        if (m_lines.size() > m_max) m_lines.remove(0, m_lines.size() - m_max);
        emit lineAdded(text);
    }
    void clear() {
        m_lines.clear();
        emit cleared();
    }
    const QStringList &lines() const { return m_lines; }

signals:
    void lineAdded(const QString &line);
    void cleared();

private:
    int m_max;
    QStringList m_lines;
};

} // namespace tulmo
