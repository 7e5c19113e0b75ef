#include "DigitsOnly.h"

#include "core/common/Prompt.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace tulmo {

namespace {
bool hasLetter(const QString &text) {
    for (QChar c : text)
        if (c.isLetter()) return true;
    return false;
}
} // namespace

DigitsOnly::DigitsOnly(Prompt *prompt, QObject *parent)
    : QObject(parent)
    , m_prompt(prompt) {}

void DigitsOnly::guard(QLineEdit *field) {
    field->installEventFilter(this);
}

bool DigitsOnly::eventFilter(QObject *o, QEvent *e) {
    if (e->type() != QEvent::KeyPress) return QObject::eventFilter(o, e);
    auto *k = static_cast<QKeyEvent *>(e);
    QString typed;
    if (k->matches(QKeySequence::Paste)) {
        typed = QGuiApplication::clipboard()->text();
    } else if (!(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        typed = k->text();
    }
    if (!hasLetter(typed)) return QObject::eventFilter(o, e);
    if (m_prompt) m_prompt->message(message(), caption(), Prompt::Icon::Information);
    return true;
}

} // namespace tulmo
