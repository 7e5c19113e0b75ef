// Random and mutated parameter blocks, hex texts, configuration files and channel readings
// thrown at the block codec. Built with the sanitizers like the tests, so a read past an end
// or an overflow stops it; the properties below stop it with the input that broke them.
//
//   fuzz_parameterblock [inputs] [seed]
//
// CTest runs a short pass; a long one is run by hand with a larger count.

#include "modules/ChannelReading.h"
#include "modules/ModuleCfgFile.h"
#include "modules/ModuleParameterBlock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tulmo;

namespace {

QRandomGenerator rng;
qint64 currentInput = 0;

int pick(int below) {
    return int(rng.bounded(quint32(below)));
}

[[noreturn]] void fail(const char *what, const QString &input) {
    std::fprintf(stderr, "FALHA na entrada %lld: %s\nentrada: %s\n", currentInput, what,
                 qPrintable(input.left(4000)));
    std::exit(1);
}

QString randomText(int maxLength) {
    static const char16_t kSpecial[] = {0x0D, 0x0A, 0x00, 0x13,   0x14,   0x20,   0xA0,
                                        0x80, 0x81, 0xE7, 0x20AC, 0x2211, 0xFFFD, 0x09};
    QString s;
    const int n = pick(maxLength + 1);
    for (int i = 0; i < n; ++i)
        s.append(pick(4) ? QChar(char16_t(0x20 + pick(0x5F)))
                         : QChar(kSpecial[pick(int(std::size(kSpecial)))]));
    return s;
}

int randomNumber() {
    switch (pick(4)) {
    case 0:
        return pick(256);
    case 1:
        return pick(65536);
    case 2:
        return int(rng.generate());
    default:
        return -pick(1000);
    }
}

ModuleParameterBlock randomFields() {
    ModuleParameterBlock b;
    for (int *v :
         {&b.Numero_Equipamento, &b.Equipamento, &b.Data, &b.Velocidade_Com, &b.Spin_Keep_Alive,
          &b.Spin_Chamadas_Externas, &b.Modo_Reportagem, &b.Tentativas_Conexao, &b.Tempo_Tentativas,
          &b.Tentativas_IMEI, &b.Tentativas_Evento, &b.Configuracoes})
        *v = randomNumber();
    for (QString *t : {&b.IMEI, &b.IP_Primario, &b.IP_Secundario1, &b.IP_Secundario2,
                       &b.APN_Operadora, &b.Usuario_Operadora, &b.Senha_Operadora, &b.DNS_Remoto,
                       &b.DNS_Operadora, &b.Porta_Remota, &b.Senha_Acesso, &b.Senha_SMS,
                       &b.Telefone_SMS, &b.Telefone_UDP, &b.Conta_Interna, &b.IP_Local})
        *t = randomText(36);
    for (int n = 0; n < kChannels; ++n) {
        b.Nivel_Baixo[n] = randomNumber();
        b.Nivel_Alto[n] = randomNumber();
        b.Tempo_Baixo[n] = randomNumber();
        b.Tempo_Alto[n] = randomNumber();
        b.SMS_Alto[n] = randomText(24);
        b.SMS_Baixo[n] = randomText(24);
    }
    return b;
}

QString mutate(QString hex) {
    const int edits = 1 + pick(8);
    for (int e = 0; e < edits; ++e) {
        const int at = hex.isEmpty() ? 0 : pick(int(hex.size()));
        switch (pick(6)) {
        case 0:
            if (!hex.isEmpty()) hex[at] = QChar(char16_t(pick(0x10000)));
            break;
        case 1:
            if (!hex.isEmpty()) hex[at] = QLatin1Char("0123456789ABCDEFabcdef"[pick(22)]);
            break;
        case 2:
            hex.truncate(at);
            break;
        case 3:
            hex.insert(at, QLatin1Char("\r\nG 0F"[pick(6)]));
            break;
        case 4:
            hex.remove(at, 1 + pick(4));
            break;
        default:
            hex.append(QString(pick(6), QLatin1Char('F')));
            break;
        }
    }
    return hex;
}

// Whatever the input, one pass through the editor's decode and encode gives the block the
// module would keep, and from there decoding and encoding change nothing.
void checkFixpoint(const ModuleParameterBlock &decoded, const QString &input) {
    const QByteArray raw2 = EncodeParameterBlock(decoded);
    if (raw2.size() != kBlockSize) fail("bloco codificado sem 800 bytes", input);
    if (raw2[16] != '\r') fail("falta o 0x0D depois do IMEI", input);
    const ModuleParameterBlock b2 = decodeRawBlock(raw2);
    const QString hex2 = blockToHex(raw2);
    if (!blockHexProblem(hex2).isEmpty() || hexToBlock(hex2) != raw2)
        fail("forma hexadecimal não volta aos mesmos bytes", input);
    if (DecodeParameterBlock(hex2) != b2) fail("hex e bytes decodificam diferente", input);
    if (const QByteArray raw3 = EncodeParameterBlock(b2); raw3 != raw2) {
        qsizetype at = 0;
        while (raw3[at] == raw2[at])
            ++at;
        fail("bloco aceito não volta aos mesmos bytes",
             QStringLiteral("%1; byte %2: %3").arg(input).arg(at).arg(blockToHex(raw2)));
    }
    if (decodeRawBlock(EncodeParameterBlock(b2)) != b2)
        fail("bloco aceito não volta aos mesmos campos", input);
    if (normalizedTexts(decoded).IMEI != b2.IMEI) fail("textos normalizados divergem", input);
}

void fuzzHex(const QString &hex) {
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
    checkFixpoint(b, hex);
}

void fuzzCfg(const QTemporaryDir &dir, const QString &validHex) {
    // Valid digits broken by any mix of line ends read as the one line.
    QByteArray text;
    for (QChar c : validHex) {
        text.append(char(c.unicode()));
        if (!pick(40)) text.append(pick(2) ? "\r\n" : pick(2) ? "\n" : "\r");
    }
    const bool garble = pick(3) == 0;
    if (garble && !text.isEmpty()) text[pick(int(text.size()))] = char(pick(256));
    const QString path = dir.filePath(QStringLiteral("f.CFG"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        fail("não gravou o arquivo de teste", validHex);
    f.close();
    const CfgReadResult r = readCfgFile(path);
    if (!r.read) fail("arquivo pequeno não lido", validHex);
    if (!garble && (!r.isBlock || r.hex != validHex)) fail("arquivo em linhas difere", validHex);
    if (r.isBlock != r.error.isEmpty()) fail("mensagem do arquivo incoerente", validHex);
    fuzzHex(r.hex);
}

void fuzzReading() {
    // An exact-size buffer, so a read past the answer's end is caught by the sanitizer.
    const int n = pick(24);
    std::vector<char> bytes(size_t(n) + 0);
    for (char &c : bytes)
        c = char(pick(256));
    if (n >= 2 && pick(2)) bytes[0] = '#', bytes[1] = '$';
    const QByteArray frame = QByteArray::fromRawData(bytes.data(), n);
    const auto reading = ChannelReading::parse(frame);
    const bool expected = n >= 16 && frame.startsWith("#$");
    if (bool(reading) != expected) fail("leitura de canais aceita errado", QString::number(n));
    if (reading)
        for (int k = 0; k < kChannels; ++k) {
            const double v =
                channelValue(reading->raw[k], randomNumber() % 32768, randomNumber() % 32768);
            if (formatDecimal(v).contains(QLatin1Char('.'))) fail("decimal com ponto", "");
        }
    const QString password = randomText(8);
    const int seconds = randomNumber();
    const QByteArray pgm =
        ModuleCommands::switchPgm(password, 1 + pick(8), pick(2), pick(3), seconds);
    if (pgm.size() != 2 + password.size() + 4 + 4 || !pgm.startsWith("#$"))
        fail("comando PGM com tamanho errado", password);
    const int t = randomNumber() % 100000;
    int back = 0;
    if (!parseTenths(formatTenths(t), &back) || back != t)
        fail("décimos não voltam", formatTenths(t));
    parseTenths(randomText(12), &back);
}

} // namespace

int main(int argc, char **argv) {
    const qint64 inputs = argc > 1 ? std::atoll(argv[1]) : 20000;
    const quint32 seed = argc > 2 ? quint32(std::strtoul(argv[2], nullptr, 10))
                                  : QRandomGenerator::system()->generate();
    rng.seed(seed);
    QTemporaryDir dir;
    if (!dir.isValid()) return 2;
    std::printf("fuzz_parameterblock: %lld entradas, semente %u\n", inputs, seed);
    QElapsedTimer timer;
    timer.start();
    qint64 counts[5] = {};
    for (currentInput = 0; currentInput < inputs; ++currentInput) {
        const int kind = pick(16) == 0 ? 4 : pick(4);
        ++counts[kind];
        switch (kind) {
        case 0: { // fields → block → the decode and encode of the editor
            const ModuleParameterBlock b = randomFields();
            checkFixpoint(b, QStringLiteral("(campos aleatórios)"));
            fuzzHex(blockToHex(EncodeParameterBlock(b)));
            break;
        }
        case 1: { // random digits and garbage of any length
            QString hex;
            const int n = pick(4) ? kBlockHexSize : pick(2 * kBlockHexSize);
            for (int i = 0; i < n; ++i)
                hex.append(pick(50) ? QLatin1Char("0123456789ABCDEF"[pick(16)])
                                    : QChar(char16_t(pick(0x300))));
            fuzzHex(hex);
            break;
        }
        case 2: // a module's block mutated
            fuzzHex(mutate(blockToHex(EncodeParameterBlock(randomFields()))));
            break;
        case 3:
            fuzzReading();
            break;
        default:
            fuzzCfg(dir, blockToHex(EncodeParameterBlock(randomFields())));
            break;
        }
    }
    std::printf("ok: %lld entradas em %.1f s (campos %lld, hex %lld, mutados %lld, leituras "
                "%lld, arquivos %lld)\n",
                inputs, timer.elapsed() / 1000.0, counts[0], counts[1], counts[2], counts[3],
                counts[4]);
    return 0;
}
