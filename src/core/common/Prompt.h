#pragma once

#include <QString>

namespace tulmo {

// Modal messages and questions to the operator. The core never opens a message box:
// it asks through this interface; the console answers with real dialogs, tests with a script.
class Prompt {
public:
    enum class Icon { Information, Warning, Error, Question };
    virtual ~Prompt() = default;
    virtual void message(const QString &text, const QString &caption = QString(),
                         Icon icon = Icon::Information) = 0;
    // Yes/No question; returns true for Yes.
    virtual bool question(const QString &text, const QString &caption = QString(),
                          Icon icon = Icon::Question, bool defaultYes = false) = 0;
};

} // namespace tulmo
