#pragma once

#include <QObject>

class QLineEdit;

namespace tulmo {

class Prompt;

// The numeric fields of the registry forms refuse letters with a message, where a mask or a
// validator alone would swallow them without a word and leave the operator wondering why
// the key does nothing. Typed and pasted letters alike.
class DigitsOnly : public QObject {
    Q_OBJECT
public:
    static QString message() { return QStringLiteral("Este campo aceita somente números."); }
    static QString caption() { return QStringLiteral("ATENÇÃO"); }

    DigitsOnly(Prompt *prompt, QObject *parent);
    // field now refuses letters.
    void guard(QLineEdit *field);

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    Prompt *m_prompt;
};

} // namespace tulmo
