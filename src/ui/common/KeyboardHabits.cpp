#include "KeyboardHabits.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
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

bool isReadOnly(const QWidget *w) {
    if (auto *e = qobject_cast<const QLineEdit *>(w)) return e->isReadOnly();
    if (auto *e = qobject_cast<const QPlainTextEdit *>(w)) return e->isReadOnly();
    if (auto *e = qobject_cast<const QTextEdit *>(w)) return e->isReadOnly();
    return false;
}

// Keeps a field's Tab stop in step with its read-only state.
class ReadOnlySkipsTab final : public QObject {
public:
    using QObject::QObject;
    void watch(QWidget *w) {
        w->setProperty(kPolicy, int(w->focusPolicy()));
        w->installEventFilter(this);
        follow(w);
    }

protected:
    bool eventFilter(QObject *o, QEvent *e) override {
        if (e->type() == QEvent::ReadOnlyChange) follow(static_cast<QWidget *>(o));
        return false;
    }

private:
    static constexpr const char *kPolicy = "tulmoTabPolicy";
    static void follow(QWidget *w) {
        const auto editable = Qt::FocusPolicy(w->property(kPolicy).toInt());
        if (!(editable & Qt::TabFocus)) return; // never a Tab stop: nothing to take away
        const Qt::FocusPolicy readOnly = editable & Qt::ClickFocus ? Qt::ClickFocus : Qt::NoFocus;
        w->setFocusPolicy(isReadOnly(w) ? readOnly : editable);
    }
};

} // namespace

void applyKeyboardHabits(QWidget *window) {
    auto *readOnly = new ReadOnlySkipsTab(window);
    for (QPlainTextEdit *memo : window->findChildren<QPlainTextEdit *>()) {
        memo->setTabChangesFocus(true);
        readOnly->watch(memo);
    }
    for (QTextEdit *memo : window->findChildren<QTextEdit *>()) {
        memo->setTabChangesFocus(true);
        readOnly->watch(memo);
    }
    for (QLineEdit *edit : window->findChildren<QLineEdit *>()) readOnly->watch(edit);
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
