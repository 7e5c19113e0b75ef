#include "MessagePrompt.h"

#include <QMessageBox>

namespace tulmo {

namespace {
QMessageBox::Icon toBox(Prompt::Icon i) {
    switch (i) {
    case Prompt::Icon::Warning:
        return QMessageBox::Warning;
    case Prompt::Icon::Error:
        return QMessageBox::Critical;
    case Prompt::Icon::Question:
        return QMessageBox::Question;
    case Prompt::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}
} // namespace

void MessagePrompt::message(const QString &text, const QString &caption, Icon icon) {
    QMessageBox box(toBox(icon), caption.isEmpty() ? QStringLiteral("Tulmo") : caption, text,
                    QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessagePrompt::question(const QString &text, const QString &caption, Icon icon,
                             bool defaultYes) {
    QMessageBox box(toBox(icon), caption.isEmpty() ? QStringLiteral("Tulmo") : caption, text,
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace tulmo
