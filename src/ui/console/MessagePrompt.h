#pragma once

#include "common/Prompt.h"

#include <QPointer>
#include <QWidget>

namespace tulmo {

// Answers the core's prompts with message boxes, modal to the main window only once it is
// set: the pending-events window stays usable while a box waits for the operator.
class MessagePrompt : public Prompt {
public:
    explicit MessagePrompt(QWidget *parent = nullptr)
        : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    void message(const QString &text, const QString &caption, Icon icon) override;
    bool question(const QString &text, const QString &caption, Icon icon, bool defaultYes) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace tulmo
