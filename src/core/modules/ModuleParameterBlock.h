#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace tulmo {

// The parameter image of a QVN module: 800 bytes, kept by the console as 1,600 upper-case
// hexadecimal digits. Multi-byte numbers are most significant byte first; texts are
// Windows-1252 characters filled up to their width with "0" or with 0x0D.
inline constexpr int kBlockSize = 800;
inline constexpr int kBlockHexSize = 2 * kBlockSize;
inline constexpr int kChannels = 12;
inline constexpr int kPgmOutputs = 8;
// The equipment number is kept as its distance from this year.
inline constexpr int kEquipmentNumberBase = 2007;

// Every field of the block, named as its editor control. Numbers are held as decoded (a
// level in tenths of a volt); encoding keeps the low 8 bits of a one-byte field and the low
// 16 bits of a two-byte one. Texts are held as the module shows them: bytes below 0x14
// (padding, the terminator after IMEI, any control byte) dropped, "0" padding kept.
struct ModuleParameterBlock {
    int Numero_Equipamento = kEquipmentNumberBase; // as shown: stored value + 2007
    int Equipamento = 0;                           // model code
    int Data = 0;
    int Velocidade_Com = 0;
    int Spin_Keep_Alive = 0;
    int Spin_Chamadas_Externas = 0;
    int Modo_Reportagem = 0;
    QString IMEI;
    QString IP_Primario;
    QString IP_Secundario1;
    QString IP_Secundario2;
    QString APN_Operadora;
    QString Usuario_Operadora;
    QString Senha_Operadora;
    QString DNS_Remoto;
    QString DNS_Operadora;
    QString Porta_Remota;
    QString Senha_Acesso;
    QString Senha_SMS;
    QString Telefone_SMS;
    QString Telefone_UDP;
    QString Conta_Interna;
    int Tentativas_Conexao = 0;
    int Tempo_Tentativas = 0;
    int Tentativas_IMEI = 0;
    int Tentativas_Evento = 0;
    std::array<int, kChannels> Nivel_Baixo{}; // tenths of a volt
    std::array<int, kChannels> Nivel_Alto{};
    std::array<int, kChannels> Tempo_Baixo{};
    std::array<int, kChannels> Tempo_Alto{};
    int Configuracoes = 0; // option bits, 0x80 carried as read
    QString IP_Local;
    std::array<QString, kChannels> SMS_Alto;
    std::array<QString, kChannels> SMS_Baixo;

    bool operator==(const ModuleParameterBlock &) const = default;
};

// Option bits of Configuracoes.
namespace ConfigBits {
inline constexpr int kBuscaIpSms = 0x40;        // CheckBox1
inline constexpr int kEventosGprs = 0x20;       // CheckBox2
inline constexpr int kDiscagemDomestica = 0x10; // CheckBox3
inline constexpr int kEventosSms = 0x08;        // CheckBox4
inline constexpr int kUdp = 0x04;               // RadioGroup2: set "UDP", clear "TCP"
inline constexpr int kAlarmesCanais = 0x02;     // CheckBox5
inline constexpr int kIpDinamico = 0x01;        // RadioGroup3: set "IP Dinâmico-DNS"
inline constexpr int kCarried = 0x80;           // not the editor's: written back as read
} // namespace ConfigBits

// The hex text form to fields. Digits that are not hexadecimal or are missing (a short
// text) make their field 0; a text byte made 0 that way is dropped like any byte below 0x14.
ModuleParameterBlock DecodeParameterBlock(const QString &hex);
// The same from raw bytes; bytes missing from a short block read as 0.
ModuleParameterBlock decodeRawBlock(const QByteArray &raw);
// Fields to the 800 raw bytes. The texts the module trims (every one but the addresses, the
// passwords, the internal account and IP_Local) lose their outer blanks; a text longer than
// its width is cut to it; characters outside Windows-1252 become '?'; control characters
// (below 0x14, which the module reads as padding) are left out.
QByteArray EncodeParameterBlock(const ModuleParameterBlock &block);
// The texts as the module will hold them after EncodeParameterBlock: trimmed where the
// encoding trims, cut to width, "0" padding written out. What the editor shows after a close.
ModuleParameterBlock normalizedTexts(const ModuleParameterBlock &block);

// Raw bytes to the hex text form: two upper-case digits per byte, any length.
QString blockToHex(const QByteArray &raw);
// The hex text form to 800 raw bytes, by position: byte k is digits 2k+1 and 2k+2. A byte
// whose digits are not hexadecimal or are missing is 0; digits past the block are ignored.
QByteArray hexToBlock(const QString &hex);
// Why a hex text is not one whole block (Portuguese, for the operator); empty when it is
// exactly 1,600 hexadecimal digits.
QString blockHexProblem(const QString &hex);

// The model code at offset 2; 0 when it cannot be read.
int moduleModelCode(const QString &hex);
int moduleModelCode(const QByteArray &raw);
// The model name the access console shows for a code; empty for a code it does not know.
QString moduleModelName(int code);
// Whether "Acessar Dados" opens the parameter editor for that model name.
bool isEditableModel(const QString &modelName);

// Decimal numbers as the console shows them: decimal comma, shortest form ("12", "12,7").
QString formatTenths(int tenths);
// A decimal text to tenths: "12", "12,7", "12.7" and "-0,5" are read; empty text, another
// character or a value that is not a whole number of tenths ("12,75") give false.
bool parseTenths(const QString &text, int *tenths);
// A whole number text ("1", " 255 "); false for empty or non-numeric text.
bool parseWhole(const QString &text, int *value);

} // namespace tulmo
