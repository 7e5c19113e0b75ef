#pragma once

#include "core/operators/Permissions.h"

#include <QString>

namespace tulmo {

// The operator who started the shift and the permission bits of his OPERADORES row. Until a
// shift is started the console runs as the administrator with every permission.
struct CurrentOperator {
    QString nome = QStringLiteral("admin");
    quint32 permissoes = Permissions::kAll;
    bool can(quint32 bit) const { return (permissoes & bit) != 0; }
};

} // namespace tulmo
