#pragma once

#include "core/common/Prompt.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <deque>
#include <functional>

namespace tulmo {

// Answers the core's prompts with message boxes, modal to the main window only once it is
// set: the pending-events window stays usable while a box waits for the operator. A question
// asked while the operator works in a window standing on its own beside the main window (the
// pending events) is modal to that window instead, in front of it.
class MessagePrompt : public Prompt {
public:
    explicit MessagePrompt(QWidget *parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    void message(const QString &text, const QString &caption, Icon icon) override;
    void alert(const QString &text, const QString &caption, Icon icon,
               std::function<void()> closed) override;
    bool question(const QString &text, const QString &caption, Icon icon, bool defaultYes) override;
    std::optional<QString> askText(const QString &caption, const QString &label,
                                   const QString &initial) override;

private:
    void showNextAlert();
    // The window a modal box belongs to.
    QWidget *owner() const;

    struct Alert {
        QString text, caption;
        Icon icon;
        std::function<void()> closed;
    };
    QPointer<QWidget> m_parent;
    std::deque<Alert> m_alerts; // waiting behind the open one
    QPointer<QMessageBox> m_open;
};

} // namespace tulmo
