// Configuration files (*.CFG) as an operator picks them, and the parameter blocks a module
// sends when it is read: the file's reader and the block codec. Built with the sanitizers, so
// a read past an end or an overflow stops it; the properties below stop it with the input that
// broke them.
//
// Input: the file's bytes. Its first 800 bytes (zeros after a shorter input) are also taken as
// the block a module sent.
//
// Properties:
//  - a file of that size is read, and its digits are its bytes without the CR and LF;
//  - the reader calls it a block exactly when it is 1,600 hexadecimal digits, and has a
//    message for the operator exactly when it is not;
//  - one pass through the editor's decode and encode gives the block the module would keep,
//    and from there decoding and encoding change nothing.

#include "FuzzSupport.h"

#include "core/modules/ModuleCfgFile.h"
#include "core/modules/ModuleParameterBlock.h"

#include <QFile>

using namespace tulmo;

namespace {

QByteArray currentInput;

[[noreturn]] void fail(const char *what, const QString &detail = QString()) {
    fuzz::broken(what, currentInput, detail.left(4000));
}

// Whatever the input, one pass through the editor's decode and encode gives the block the
// module would keep, and from there decoding and encoding change nothing.
void checkFixpoint(const ModuleParameterBlock &decoded) {
    const QByteArray raw2 = EncodeParameterBlock(decoded);
    if (raw2.size() != kBlockSize) fail("bloco codificado sem 800 bytes");
    if (raw2[16] != '\r') fail("falta o 0x0D depois do IMEI");
    const ModuleParameterBlock b2 = decodeRawBlock(raw2);
    const QString hex2 = blockToHex(raw2);
    if (!blockHexProblem(hex2).isEmpty() || hexToBlock(hex2) != raw2)
        fail("forma hexadecimal não volta aos mesmos bytes");
    if (DecodeParameterBlock(hex2) != b2) fail("hex e bytes decodificam diferente");
    if (const QByteArray raw3 = EncodeParameterBlock(b2); raw3 != raw2) {
        qsizetype at = 0;
        while (raw3[at] == raw2[at])
            ++at;
        fail("bloco aceito não volta aos mesmos bytes",
             QStringLiteral("byte %1: %2").arg(at).arg(blockToHex(raw2)));
    }
    if (decodeRawBlock(EncodeParameterBlock(b2)) != b2)
        fail("bloco aceito não volta aos mesmos campos");
    if (normalizedTexts(decoded).IMEI != b2.IMEI) fail("textos normalizados divergem");
}

void checkHex(const QString &hex) {
    const ModuleParameterBlock b = DecodeParameterBlock(hex);
    const QByteArray raw = hexToBlock(hex);
    if (raw.size() != kBlockSize) fail("hexToBlock sem 800 bytes", hex);
    const int code = moduleModelCode(hex);
    if (code < 0 || code > 255 || code != b.Equipamento) fail("código de modelo", hex);
    const bool whole = blockHexProblem(hex).isEmpty();
    bool allHex = hex.size() == kBlockHexSize;
    for (QChar c : hex)
        allHex = allHex && QStringLiteral("0123456789ABCDEFabcdef").contains(c);
    if (whole != allHex) fail("blockHexProblem não reconhece o bloco", hex);
    if (whole && decodeRawBlock(raw) != b) fail("bloco inteiro decodifica diferente", hex);
    checkFixpoint(b);
}

void checkFile(const QByteArray &bytes) {
    const QString path = fuzz::scratch().filePath(QStringLiteral("f.CFG"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fail("não gravou o arquivo de teste");
    f.close();
    const CfgReadResult r = readCfgFile(path);
    if (!r.read) fail("arquivo pequeno não lido", r.error);
    QByteArray digits = bytes;
    digits.replace('\r', QByteArray()).replace('\n', QByteArray());
    if (r.hex != QString::fromLatin1(digits)) fail("dígitos do arquivo diferem dos seus bytes");
    if (r.isBlock != r.error.isEmpty()) fail("mensagem do arquivo incoerente", r.error);
    checkHex(r.hex);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    currentInput = fuzz::bytesOf(data, size);
    checkFile(currentInput);
    QByteArray block = currentInput.left(kBlockSize);
    block.append(QByteArray(kBlockSize - block.size(), '\0'));
    const ModuleParameterBlock fromModule = decodeRawBlock(block);
    if (DecodeParameterBlock(blockToHex(block)) != fromModule)
        fail("bloco do módulo decodifica diferente em hex");
    checkFixpoint(fromModule);
    return 0;
}
