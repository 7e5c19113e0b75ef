#include "KeyboardHabits.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QToolTip>

namespace tulmo {

namespace {

class EnterPresses final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *o, QEvent *e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent *>(e)->key();
        auto *button = qobject_cast<QPushButton *>(o);
        if (!button || (key != Qt::Key_Return && key != Qt::Key_Enter)) return false;
        if (!button->isEnabled()) return true;
        button->click();
        return true;
    }
};

} // namespace

void applyKeyboardHabits(QWidget *window) {
    auto *enter = new EnterPresses(window);
    for (QPushButton *b : window->findChildren<QPushButton *>()) b->installEventFilter(enter);
    for (QLineEdit *edit : window->findChildren<QLineEdit *>()) {
        if (edit->maxLength() >= 32767) continue; // no limit of its own
        QObject::connect(edit, &QLineEdit::inputRejected, edit, [edit] {
            if (edit->text().size() < edit->maxLength()) return; // refused for another reason
            QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())),
                               QStringLiteral("Máximo de %1 caracteres").arg(edit->maxLength()),
                               edit);
        });
    }
}

} // namespace tulmo
