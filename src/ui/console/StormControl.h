#pragma once

#include "core/console/CommonServices.h"

#include <QObject>

class QAction;
class QLabel;
class QMenuBar;
class QStatusBar;
class QTimer;

namespace tulmo {

struct CurrentOperator;

// The storm mode on the main window: the menu command that declares and ends it (an operator
// with the settings permission, after a question), and a panel of the status bar that shows it
// while it lasts, read again every few seconds since any workstation may change it.
class StormControl : public QObject {
    Q_OBJECT
public:
    static constexpr int kReadEveryMs = 5000;

    StormControl(CommonServices common, const CurrentOperator &current, QMenuBar *menu,
                 QStatusBar *bar, QObject *parent = nullptr);

    QAction *action() const { return m_action; }
    // Reads the mode and shows it.
    void refresh();
    // Declares (on) or ends it, as the menu command does; false when refused or not asked.
    bool toggle(bool on);

private:
    CommonServices m_common;
    const CurrentOperator &m_current;
    QAction *m_action;
    QLabel *m_panel;
    QTimer *m_timer;
};

} // namespace tulmo
