#include "ModuleCfgFile.h"

#include "ModuleParameterBlock.h"

#include "core/common/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace tulmo {

CfgReadResult readCfgFile(const QString &path) {
    CfgReadResult r;
    const QString shown = QDir::toNativeSeparators(path);
    // A block file is 1,602 bytes; even one broken into short lines is far below the limit.
    // Anything larger, or a FIFO or a device, was chosen by mistake and is not read.
    QFile f;
    const FileCheck check = openReadable(f, path, FileLimits::kCfgFile);
    if (check.status == FileCheck::Status::TooLarge) {
        r.error = QStringLiteral("O arquivo %1 não é um arquivo de configuração: tem %2 bytes, "
                                 "e um arquivo de configuração tem cerca de %3.")
                      .arg(shown)
                      .arg(check.size)
                      .arg(kBlockHexSize + 2);
        return r;
    }
    if (check.missing() || check.status == FileCheck::Status::Unreadable) {
        r.error =
            QStringLiteral("Não foi possível abrir o arquivo %1: %2").arg(shown, check.reason);
        return r;
    }
    if (!check.ok()) {
        r.error = check.error;
        return r;
    }
    QByteArray bytes = f.read(FileLimits::kCfgFile + 1);
    if (f.error() != QFileDevice::NoError) {
        r.error =
            QStringLiteral("Não foi possível ler o arquivo %1: %2").arg(shown, f.errorString());
        return r;
    }
    bytes.replace('\r', QByteArray()).replace('\n', QByteArray());
    r.read = true;
    r.hex = QString::fromLatin1(bytes);
    const QString problem = blockHexProblem(r.hex);
    r.isBlock = problem.isEmpty();
    if (!r.isBlock)
        r.error = QStringLiteral("O arquivo %1 não contém um bloco de parâmetros válido. %2")
                      .arg(shown, problem);
    return r;
}

CfgWriteResult writeCfgFile(const QString &path, const QString &hex) {
    CfgWriteResult r;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        r.error = QStringLiteral("Não foi possível gravar o arquivo %1: %2")
                      .arg(QDir::toNativeSeparators(path), f.errorString());
        return r;
    }
    f.write(hex.toLatin1() + "\r\n");
    if (!f.commit()) {
        r.error = QStringLiteral("Não foi possível gravar o arquivo %1: %2")
                      .arg(QDir::toNativeSeparators(path), f.errorString());
        return r;
    }
    r.written = true;
    return r;
}

} // namespace tulmo
