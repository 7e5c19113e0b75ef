#pragma once

#include <QString>

namespace tulmo {

// What a failed file operation's errno means, in the operator's words: "disco cheio",
// "sem permissão de escrita"; the system's own text for the rarer ones.
enum class FileAccess { Reading, Writing };
QString fileErrorText(int errnum, FileAccess access);

} // namespace tulmo
