#pragma once

#include <QSpinBox>
#include <QValidator>

class QLineEdit;

namespace tulmo {

// A number field that refuses a value outside its range where it is typed, and says so.
// A plain spin box drops the keystroke that would leave its range, so typing 70000 in a
// 0–65535 field silently leaves 7000; here the typed text stays, marked red with the range
// beside it, and leaving the field (or Enter) announces the refusal with refused() and puts
// back the last valid value.
class BoundedSpinBox : public QSpinBox {
    Q_OBJECT
public:
    BoundedSpinBox(const QString &fieldName, int min, int max, QWidget *parent = nullptr);

    const QString &fieldName() const { return m_fieldName; }
    // "Porta TCP: o valor 70000 está fora do limite (de 0 a 65535)."
    QString refusalText(const QString &typed) const;
    // Whether the text shown is outside the range (typed, not yet refused).
    bool outOfRange() const { return !m_outside.isEmpty(); }

signals:
    void refused(const QString &typed, const QString &reason);

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    void focusOutEvent(QFocusEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void markOutside(const QString &typed) const;
    void announce();

    QString m_fieldName;
    mutable QString m_outside; // the out-of-range text being typed
};

// Digits only, a whole number within [min, max]. Out-of-range and empty texts stay while they
// are typed (Intermediate), so the field shows what the operator typed; the console's own
// "Erro" for a missing key may be erased letter by letter.
class NumberRangeValidator : public QValidator {
    Q_OBJECT
public:
    NumberRangeValidator(int min, int max, QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;

private:
    int m_min, m_max;
};

// Gives edit a NumberRangeValidator: a refused key shows the range in a tooltip beside the
// field, and a text outside the range is painted red until it is mended.
void limitToRange(QLineEdit *edit, const QString &fieldName, int min, int max);
// "Porta: digite um número de 1 a 65535."
QString rangeText(const QString &fieldName, int min, int max);
// Whether edit holds a number of its range (or the untouched "Erro" of a missing key).
bool holdsNumberInRange(const QLineEdit *edit, int min, int max);

} // namespace tulmo
