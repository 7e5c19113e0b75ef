#include "RangeFields.h"

#include <QKeyEvent>

#include <QLineEdit>
#include <QToolTip>
#include <algorithm>

namespace tulmo {

namespace {

const QString kMissingKey = QStringLiteral("Erro"); // what Config.ini shows for a missing key

bool allDigits(const QString &s) {
    return !s.isEmpty() && std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.isDigit(); });
}

void showRed(QWidget *w, bool red) {
    w->setStyleSheet(red ? QStringLiteral("color: #C00000;") : QString());
}

void tip(QWidget *w, const QString &text) {
    QToolTip::showText(w->mapToGlobal(QPoint(0, w->height())), text, w);
}

} // namespace

QString rangeText(const QString &fieldName, int min, int max) {
    return QStringLiteral("%1: digite um número de %2 a %3.").arg(fieldName).arg(min).arg(max);
}

BoundedSpinBox::BoundedSpinBox(const QString &fieldName, int min, int max, QWidget *parent)
    : QSpinBox(parent)
    , m_fieldName(fieldName) {
    setRange(min, max);
    setToolTip(QStringLiteral("De %1 a %2").arg(min).arg(max));
}

QString BoundedSpinBox::refusalText(const QString &typed) const {
    return QStringLiteral("%1: o valor %2 está fora do limite (de %3 a %4).")
        .arg(m_fieldName, typed)
        .arg(minimum())
        .arg(maximum());
}

QValidator::State BoundedSpinBox::validate(QString &input, int &pos) const {
    const QString bare = input.trimmed();
    if (allDigits(bare) && bare.size() <= 10) {
        bool ok = false;
        const qlonglong v = bare.toLongLong(&ok);
        if (ok && (v > maximum() || v < minimum())) {
            markOutside(bare);
            return QValidator::Intermediate; // kept on screen, refused on leaving
        }
    }
    markOutside(QString());
    return QSpinBox::validate(input, pos);
}

void BoundedSpinBox::markOutside(const QString &typed) const {
    if (typed == m_outside) return;
    m_outside = typed;
    auto *self = const_cast<BoundedSpinBox *>(this);
    showRed(self, !typed.isEmpty());
    if (!typed.isEmpty()) tip(self, refusalText(typed));
}

void BoundedSpinBox::announce() {
    if (m_outside.isEmpty()) return;
    const QString typed = m_outside;
    markOutside(QString());
    emit refused(typed, refusalText(typed));
}

void BoundedSpinBox::focusOutEvent(QFocusEvent *e) {
    const QString typed = m_outside;
    QSpinBox::focusOutEvent(e); // puts back the last valid value
    if (!typed.isEmpty()) {
        m_outside = typed;
        announce();
    }
}

void BoundedSpinBox::keyPressEvent(QKeyEvent *e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    const QString typed = m_outside;
    QSpinBox::keyPressEvent(e); // Enter puts back the last valid value
    if (enter && !typed.isEmpty()) {
        m_outside = typed;
        announce();
    }
}

NumberRangeValidator::NumberRangeValidator(int min, int max, QObject *parent)
    : QValidator(parent)
    , m_min(min)
    , m_max(max) {}

QValidator::State NumberRangeValidator::validate(QString &input, int &) const {
    if (input.isEmpty() || kMissingKey.startsWith(input)) return Intermediate;
    if (!allDigits(input) || input.size() > 10) return Invalid;
    const qlonglong v = input.toLongLong();
    return v >= m_min && v <= m_max ? Acceptable : Intermediate;
}

bool holdsNumberInRange(const QLineEdit *edit, int min, int max) {
    const QString t = edit->text();
    if (t == kMissingKey) return true;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    return allDigits(t) && ok && v >= min && v <= max;
}

void limitToRange(QLineEdit *edit, const QString &fieldName, int min, int max) {
    edit->setValidator(new NumberRangeValidator(min, max, edit));
    edit->setToolTip(QStringLiteral("Número de %1 a %2").arg(min).arg(max));
    QObject::connect(edit, &QLineEdit::inputRejected, edit,
                     [edit, fieldName, min, max] { tip(edit, rangeText(fieldName, min, max)); });
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [edit, min, max] { showRed(edit, !holdsNumberInRange(edit, min, max)); });
}

} // namespace tulmo
