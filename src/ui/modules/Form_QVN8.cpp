#include "Form_QVN8.h"

namespace tulmo {

Form_QVN8::Form_QVN8(Database &database, Prompt *prompt, QWidget *parent)
    : Form_QVN12(database, prompt, parent) {
    setObjectName(QStringLiteral("Form_QVN8"));
    setInitialCaption(QStringLiteral("QVN8"));
}

} // namespace tulmo
