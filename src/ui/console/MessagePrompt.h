#pragma once

#include "common/Prompt.h"

class QWidget;

namespace tulmo {

// Answers the core's prompts with modal message boxes.
class MessagePrompt : public Prompt {
public:
    explicit MessagePrompt(QWidget *parent = nullptr)
        : m_parent(parent) {}
    void message(const QString &text, const QString &caption, Icon icon) override;
    bool question(const QString &text, const QString &caption, Icon icon, bool defaultYes) override;

private:
    QWidget *m_parent;
};

} // namespace tulmo
