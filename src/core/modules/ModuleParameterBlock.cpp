#include "ModuleParameterBlock.h"

#include "core/common/TextCodec.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tulmo {

namespace {

using Block = ModuleParameterBlock;

enum class Pad : char { Zero = '0', Cr = '\r' };

struct TextField {
    int offset;
    int width;
    Pad pad;
    bool trimmed; // outer blanks dropped before encoding
    QString Block::*field;
};

// The texts of the block in block order (the 24 SMS texts follow separately).
const TextField kTexts[] = {
    {10, 6, Pad::Zero, true, &Block::IMEI},
    {17, 16, Pad::Cr, false, &Block::IP_Primario},
    {33, 16, Pad::Cr, false, &Block::IP_Secundario1},
    {49, 16, Pad::Cr, false, &Block::IP_Secundario2},
    {65, 30, Pad::Cr, true, &Block::APN_Operadora},
    {95, 30, Pad::Cr, true, &Block::Usuario_Operadora},
    {125, 30, Pad::Cr, true, &Block::Senha_Operadora},
    {155, 30, Pad::Cr, true, &Block::DNS_Remoto},
    {185, 16, Pad::Cr, false, &Block::DNS_Operadora},
    {201, 6, Pad::Cr, true, &Block::Porta_Remota},
    {207, 8, Pad::Zero, false, &Block::Senha_Acesso},
    {215, 4, Pad::Zero, false, &Block::Senha_SMS},
    {219, 14, Pad::Cr, true, &Block::Telefone_SMS},
    {233, 14, Pad::Cr, true, &Block::Telefone_UDP},
    {247, 4, Pad::Zero, false, &Block::Conta_Interna},
    {304, 16, Pad::Cr, false, &Block::IP_Local},
};
constexpr int kImeiTerminator = 16;
constexpr int kSmsAlto = 320;
constexpr int kSmsBaixo = 560;
constexpr int kSmsWidth = 20;
constexpr int kNivelBaixo = 255;
constexpr int kNivelAlto = 267;
constexpr int kTempoBaixo = 279;
constexpr int kTempoAlto = 291;
constexpr int kConfiguracoes = 303;
// Bytes below this are padding or control bytes: a text never shows them.
constexpr unsigned char kFirstTextByte = 0x14;

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return -1;
}

// The block's bytes with, for each, whether it was really there: a number field whose
// digits are not all hexadecimal or present is 0 as a whole, not half of it.
struct Bytes {
    std::array<unsigned char, kBlockSize> value{};
    std::array<bool, kBlockSize> present{};

    int number(int offset, int width) const {
        int v = 0;
        for (int i = offset; i < offset + width; ++i) {
            if (!present[i]) return 0;
            v = (v << 8) | value[i];
        }
        return v;
    }
    QString text(int offset, int width) const {
        QByteArray kept;
        kept.reserve(width);
        for (int i = offset; i < offset + width; ++i)
            if (value[i] >= kFirstTextByte) kept.append(char(value[i]));
        return fromWindows1252(kept);
    }
    QByteArray raw() const {
        return QByteArray(reinterpret_cast<const char *>(value.data()), kBlockSize);
    }
};

Bytes bytesOfHex(const QString &hex) {
    Bytes b;
    const QChar *digits = hex.constData();
    const int n = int(qMin<qsizetype>(hex.size() / 2, kBlockSize));
    for (int k = 0; k < n; ++k) {
        const int hi = hexValue(digits[2 * k]), lo = hexValue(digits[2 * k + 1]);
        if (hi < 0 || lo < 0) continue;
        b.value[k] = static_cast<unsigned char>(hi << 4 | lo);
        b.present[k] = true;
    }
    return b;
}

Bytes bytesOfRaw(const QByteArray &raw) {
    Bytes b;
    const int n = int(qMin<qsizetype>(raw.size(), kBlockSize));
    std::memcpy(b.value.data(), raw.constData(), size_t(n));
    std::fill_n(b.present.begin(), n, true);
    return b;
}

Block decode(const Bytes &b) {
    Block f;
    f.Numero_Equipamento = b.number(0, 2) + kEquipmentNumberBase;
    f.Equipamento = b.number(2, 1);
    f.Data = b.number(3, 2);
    f.Velocidade_Com = b.number(5, 1);
    f.Spin_Keep_Alive = b.number(6, 1);
    f.Spin_Chamadas_Externas = b.number(7, 2);
    f.Modo_Reportagem = b.number(9, 1);
    for (const TextField &t : kTexts)
        f.*t.field = b.text(t.offset, t.width);
    f.Tentativas_Conexao = b.number(251, 1);
    f.Tempo_Tentativas = b.number(252, 1);
    f.Tentativas_IMEI = b.number(253, 1);
    f.Tentativas_Evento = b.number(254, 1);
    for (int n = 0; n < kChannels; ++n) {
        f.Nivel_Baixo[n] = b.number(kNivelBaixo + n, 1);
        f.Nivel_Alto[n] = b.number(kNivelAlto + n, 1);
        f.Tempo_Baixo[n] = b.number(kTempoBaixo + n, 1);
        f.Tempo_Alto[n] = b.number(kTempoAlto + n, 1);
        f.SMS_Alto[n] = b.text(kSmsAlto + n * kSmsWidth, kSmsWidth);
        f.SMS_Baixo[n] = b.text(kSmsBaixo + n * kSmsWidth, kSmsWidth);
    }
    f.Configuracoes = b.number(kConfiguracoes, 1);
    return f;
}

void putNumber(QByteArray &raw, int offset, int width, int value) {
    for (int i = width - 1; i >= 0; --i) {
        raw[offset + i] = char(value & 0xFF);
        value >>= 8;
    }
}

// A byte below 0x14 inside a text would read as padding (0x0D even as its end): such
// characters, which an operator can only paste in, are left out, so the module keeps what
// the editor shows.
void putText(QByteArray &raw, int offset, int width, Pad pad, bool trimmed, QString text) {
    text.removeIf([](QChar c) { return c.unicode() < kFirstTextByte; });
    QByteArray bytes = toWindows1252(trimmed ? text.trimmed() : text).left(width);
    // A cut can leave a blank at the end, which the module would read back and trim.
    if (trimmed && bytes.size() == width) bytes = toWindows1252(fromWindows1252(bytes).trimmed());
    bytes.append(QByteArray(width - bytes.size(), char(pad)));
    raw.replace(offset, width, bytes);
}

} // namespace

ModuleParameterBlock DecodeParameterBlock(const QString &hex) {
    return decode(bytesOfHex(hex));
}

ModuleParameterBlock decodeRawBlock(const QByteArray &raw) {
    return decode(bytesOfRaw(raw));
}

QByteArray EncodeParameterBlock(const ModuleParameterBlock &f) {
    QByteArray raw(kBlockSize, '\0');
    putNumber(raw, 0, 2, f.Numero_Equipamento - kEquipmentNumberBase);
    putNumber(raw, 2, 1, f.Equipamento);
    putNumber(raw, 3, 2, f.Data);
    putNumber(raw, 5, 1, f.Velocidade_Com);
    putNumber(raw, 6, 1, f.Spin_Keep_Alive);
    putNumber(raw, 7, 2, f.Spin_Chamadas_Externas);
    putNumber(raw, 9, 1, f.Modo_Reportagem);
    for (const TextField &t : kTexts)
        putText(raw, t.offset, t.width, t.pad, t.trimmed, f.*t.field);
    raw[kImeiTerminator] = '\r';
    putNumber(raw, 251, 1, f.Tentativas_Conexao);
    putNumber(raw, 252, 1, f.Tempo_Tentativas);
    putNumber(raw, 253, 1, f.Tentativas_IMEI);
    putNumber(raw, 254, 1, f.Tentativas_Evento);
    for (int n = 0; n < kChannels; ++n) {
        putNumber(raw, kNivelBaixo + n, 1, f.Nivel_Baixo[n]);
        putNumber(raw, kNivelAlto + n, 1, f.Nivel_Alto[n]);
        putNumber(raw, kTempoBaixo + n, 1, f.Tempo_Baixo[n]);
        putNumber(raw, kTempoAlto + n, 1, f.Tempo_Alto[n]);
        putText(raw, kSmsAlto + n * kSmsWidth, kSmsWidth, Pad::Cr, true, f.SMS_Alto[n]);
        putText(raw, kSmsBaixo + n * kSmsWidth, kSmsWidth, Pad::Cr, true, f.SMS_Baixo[n]);
    }
    putNumber(raw, kConfiguracoes, 1, f.Configuracoes);
    return raw;
}

ModuleParameterBlock normalizedTexts(const ModuleParameterBlock &block) {
    const Block written = decodeRawBlock(EncodeParameterBlock(block));
    Block out = block;
    for (const TextField &t : kTexts)
        out.*t.field = written.*t.field;
    out.SMS_Alto = written.SMS_Alto;
    out.SMS_Baixo = written.SMS_Baixo;
    return out;
}

QString blockToHex(const QByteArray &raw) {
    return QString::fromLatin1(raw.toHex().toUpper());
}

QByteArray hexToBlock(const QString &hex) {
    return bytesOfHex(hex).raw();
}

QString blockHexProblem(const QString &hex) {
    for (qsizetype i = 0; i < hex.size(); ++i) {
        if (hexValue(hex[i]) < 0)
            return QStringLiteral("O conteúdo não é um bloco de parâmetros: o caractere %1 "
                                  "(posição %2) não é um dígito hexadecimal.")
                .arg(hex[i].isPrint() ? QStringLiteral("\"%1\"").arg(hex[i])
                                      : QStringLiteral("de código %1").arg(hex[i].unicode()))
                .arg(i + 1);
    }
    if (hex.size() != kBlockHexSize)
        return QStringLiteral("O conteúdo não é um bloco de parâmetros: tem %1 dígitos "
                              "hexadecimais, e um bloco tem %2.")
            .arg(hex.size())
            .arg(kBlockHexSize);
    return QString();
}

int moduleModelCode(const QString &hex) {
    return bytesOfHex(hex.left(6)).number(2, 1);
}

int moduleModelCode(const QByteArray &raw) {
    return raw.size() > 2 ? static_cast<unsigned char>(raw[2]) : 0;
}

QString moduleModelName(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("QVN-12 Dedicado");
    case 2:
        return QStringLiteral("QVN-12 Universal");
    case 3:
        return QStringLiteral("QVN-8 Universal");
    case 13:
        return QStringLiteral("LX-ORB1");
    case 14:
        return QStringLiteral("LX-ORB2");
    default:
        return QString();
    }
}

bool isEditableModel(const QString &modelName) {
    return modelName == moduleModelName(1) || modelName == moduleModelName(2) ||
           modelName == moduleModelName(3);
}

QString formatTenths(int tenths) {
    const QString sign = tenths < 0 ? QStringLiteral("-") : QString();
    const qint64 a = qAbs(qint64(tenths));
    if (a % 10 == 0) return sign + QString::number(a / 10);
    return sign + QString::number(a / 10) + QLatin1Char(',') + QString::number(a % 10);
}

namespace {
// Sign, integer digits and decimal digits of a decimal text; false when it is not one.
bool splitDecimal(const QString &text, bool *negative, QString *whole, QString *fraction,
                  bool allowFraction) {
    QString t = text.trimmed();
    *negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        *negative = t[0] == QLatin1Char('-');
        t.remove(0, 1);
    }
    qsizetype sep = t.indexOf(QLatin1Char(','));
    if (sep < 0) sep = t.indexOf(QLatin1Char('.'));
    if (sep >= 0 && !allowFraction) return false;
    *whole = sep < 0 ? t : t.left(sep);
    *fraction = sep < 0 ? QString() : t.mid(sep + 1);
    if (whole->isEmpty() && fraction->isEmpty()) return false;
    for (const QString *part : {whole, fraction})
        for (QChar c : *part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    // Beyond nine digits no field of the module means anything: refuse rather than overflow.
    return whole->size() <= 9;
}
} // namespace

bool parseTenths(const QString &text, int *tenths) {
    bool negative;
    QString whole, fraction;
    if (!splitDecimal(text, &negative, &whole, &fraction, true)) return false;
    for (qsizetype i = 1; i < fraction.size(); ++i)
        if (fraction[i] != QLatin1Char('0')) return false; // not a whole number of tenths
    const qint64 v = whole.toLongLong() * 10 + (fraction.isEmpty() ? 0 : fraction[0].digitValue());
    if (v > std::numeric_limits<int>::max()) return false;
    *tenths = int(negative ? -v : v);
    return true;
}

bool parseWhole(const QString &text, int *value) {
    bool negative;
    QString whole, fraction;
    if (!splitDecimal(text, &negative, &whole, &fraction, false) || whole.isEmpty()) return false;
    const int v = whole.toInt();
    *value = negative ? -v : v;
    return true;
}

} // namespace tulmo
