#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace tulmo {

// Messages, alerts and questions to the operator. The core never opens a message box:
// it asks through this interface; the console answers with real dialogs, tests with a script.
class Prompt {
public:
    enum class Icon { Information, Warning, Error, Question };
    virtual ~Prompt() = default;
    virtual void message(const QString &text, const QString &caption = QString(),
                         Icon icon = Icon::Information) = 0;
    // An alert that holds nothing back: it is shown and the call returns at once, while
    // reception, recording and supervision go on. Alerts show one at a time; a later one waits
    // behind the open one. closed runs once the operator has closed it. Without a window of
    // its own (tests' scripted prompts) it is a message, closed as soon as it is shown.
    virtual void alert(const QString &text, const QString &caption, Icon icon,
                       std::function<void()> closed = {}) {
        message(text, caption, icon);
        if (closed) closed();
    }
    // Yes/No question; returns true for Yes.
    virtual bool question(const QString &text, const QString &caption = QString(),
                          Icon icon = Icon::Question, bool defaultYes = false) = 0;
    // A line of text, pre-filled with initial; nothing when the operator cancelled (also
    // where nobody can answer).
    virtual std::optional<QString> askText(const QString & /*caption*/, const QString & /*label*/,
                                           const QString & /*initial*/) {
        return std::nullopt;
    }
};

} // namespace tulmo
