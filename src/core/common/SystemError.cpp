#include "SystemError.h"

#include <cerrno>
#include <cstring>

namespace tulmo {

QString fileErrorText(int errnum, FileAccess access) {
    const bool writing = access == FileAccess::Writing;
    switch (errnum) {
    case ENOSPC:
        return QStringLiteral("disco cheio");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("cota de disco esgotada");
#endif
    case EACCES:
    case EPERM:
        return writing ? QStringLiteral("sem permissão de escrita")
                       : QStringLiteral("sem permissão de leitura");
    case EROFS:
        return QStringLiteral("disco somente para leitura");
    case ENOENT:
        return QStringLiteral("arquivo ou pasta inexistente");
    case EISDIR:
        return QStringLiteral("o nome é de uma pasta");
    case ENOTDIR:
        return QStringLiteral("parte do caminho não é uma pasta");
    case EIO:
        return QStringLiteral("erro de entrada e saída no disco");
    case EFBIG:
        return QStringLiteral("arquivo grande demais");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("arquivos abertos demais");
    default:
        return QString::fromLocal8Bit(std::strerror(errnum));
    }
}

} // namespace tulmo
