#pragma once

#include "Form_QVN12.h"

namespace tulmo {

// "QVN8": the second editor window created at start-up. Every model is edited with
// Form_QVN12, so this one is never opened; it is the same editor under its own caption.
class Form_QVN8 : public Form_QVN12 {
    Q_OBJECT
public:
    Form_QVN8(Database &database, Prompt *prompt, QWidget *parent = nullptr);
};

} // namespace tulmo
