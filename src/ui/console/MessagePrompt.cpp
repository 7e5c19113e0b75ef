#include "MessagePrompt.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>

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
// Programs started by tests have nobody to close a modal box: with TULMO_MENSAGENS_STDERR=1
// the message goes to the standard error and the default answer is taken.
bool toStderr(const QString &text, const QString &caption) {
    if (qEnvironmentVariableIntValue("TULMO_MENSAGENS_STDERR") != 1) return false;
    std::fprintf(stderr, "%s: %s\n",
                 qPrintable(caption.isEmpty() ? QStringLiteral("Tulmo") : caption),
                 qPrintable(text));
    return true;
}
} // namespace

QWidget *MessagePrompt::owner() const {
    QWidget *active = QApplication::activeWindow();
    if (!m_parent || !active) return m_parent;
    for (QWidget *w = active; w; w = w->parentWidget())
        if (w == m_parent) return m_parent;
    // A window of its own: a box modal to the main window would leave it usable under the box
    // and could open behind it.
    return active;
}

void MessagePrompt::message(const QString &text, const QString &caption, Icon icon) {
    if (toStderr(text, caption)) return;
    QWidget *parent = owner();
    QMessageBox box(toBox(icon), caption.isEmpty() ? QStringLiteral("Tulmo") : caption, text,
                    QMessageBox::Ok, parent);
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

void MessagePrompt::alert(const QString &text, const QString &caption, Icon icon,
                          std::function<void()> closed) {
    if (toStderr(text, caption)) {
        if (closed) closed();
        return;
    }
    m_alerts.push_back({text, caption, icon, std::move(closed)});
    if (!m_open) showNextAlert();
}

// A box that blocks nothing: the console goes on serving its devices while it waits for the
// operator; the next alert shows when it is closed.
void MessagePrompt::showNextAlert() {
    if (m_alerts.empty()) return;
    Alert a = std::move(m_alerts.front());
    m_alerts.pop_front();
    auto *box = new QMessageBox(toBox(a.icon), a.caption.isEmpty() ? QStringLiteral("Tulmo") : a.caption,
                                a.text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box, [this, closed = std::move(a.closed)] {
        m_open = nullptr;
        if (closed) closed();
        showNextAlert();
    });
    m_open = box;
    box->show();
}

bool MessagePrompt::question(const QString &text, const QString &caption, Icon icon,
                             bool defaultYes) {
    if (toStderr(text, caption)) return defaultYes;
    QWidget *parent = owner();
    QMessageBox box(toBox(icon), caption.isEmpty() ? QStringLiteral("Tulmo") : caption, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> MessagePrompt::askText(const QString &caption, const QString &label,
                                              const QString &initial) {
    if (toStderr(label, caption)) return std::nullopt;
    QWidget *parent = owner();
    QInputDialog box(parent);
    box.setWindowTitle(caption);
    box.setLabelText(label);
    box.setTextValue(initial);
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.textValue();
}

} // namespace tulmo
