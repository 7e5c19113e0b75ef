#pragma once

#include <QObject>
#include <QStringList>

namespace tulmo {

// A text view's lines kept in memory for a window that may be shown later: the settings
// dialog's port monitor, the main window's raw-data memo. Bounded, so a flood of traffic
// cannot grow it without end.
class LineLog : public QObject {
    Q_OBJECT
public:
    explicit LineLog(int maxLines = 5000, QObject *parent = nullptr)
        : QObject(parent)
        , m_max(maxLines) {}

    void append(const QString &line) {
        m_lines.append(line);
        if (m_lines.size() > m_max) m_lines.remove(0, m_lines.size() - m_max);
        emit lineAdded(line);
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
