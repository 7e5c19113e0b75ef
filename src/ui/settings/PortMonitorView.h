#pragma once

#include "core/reception/LineLog.h"

#include <QList>
#include <QPair>
#include <QWidget>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tulmo {

// The port monitor (Porta_Visor) with what an operator needs to follow it: each line with its
// time, a pause that holds the view still while traffic goes on being kept, a filter by
// receiver, and a copy of the lines shown (or of the selection).
class PortMonitorView : public QWidget {
    Q_OBJECT
public:
    explicit PortMonitorView(LineLog &log, QWidget *parent = nullptr);

    QPlainTextEdit *text() const { return m_text; }
    // The receivers the filter offers: number and name.
    void setReceivers(const QList<QPair<int, QString>> &receivers);
    // The receiver shown, 0 for all.
    int filterSlot() const;
    void setFilterSlot(int slot);
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // The selection, or every line shown, to the clipboard; returns what was copied.
    QString copyLines();
    // A line as the monitor shows it: "09/12/2026 11:34:02  Porta 1:…", control bytes as
    // their codes ("<14>").
    static QString formatLine(const LineLog::Entry &e);

private:
    void entryAdded(const LineLog::Entry &e);
    bool shows(const LineLog::Entry &e) const;
    void rebuild();
    void showHeld();

    LineLog &m_log;
    QPlainTextEdit *m_text;
    QComboBox *m_filter;
    QPushButton *m_pause;
    QPushButton *m_copy;
    QLabel *m_held;
    bool m_paused = false;
    int m_heldLines = 0; // lines kept while paused, not shown yet
};

} // namespace tulmo
