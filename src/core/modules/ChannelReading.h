#pragma once

#include "ModuleParameterBlock.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace tulmo {

// A module's answer to "Ler Canais": "#$", the raw reading of the twelve analogue channels
// (one byte each, 250 is the top of the channel's range), the states of the eight PGM
// outputs (bit 0 is PGM 1) and one byte the console does not use.
struct ChannelReading {
    static constexpr int kMinimumSize = 16;
    std::array<int, kChannels> raw{};
    int pgmStates = 0;

    // The reading in an answer that starts with "#$" and has at least 16 bytes; nothing for
    // any other answer (a shorter one is never read past its end).
    static std::optional<ChannelReading> parse(const QByteArray &frame);
    // PGM output k (1..8) is on.
    bool pgmOn(int k) const { return k >= 1 && k <= kPgmOutputs && (pgmStates >> (k - 1)) & 1; }
};

// The value of channel reading raw on a channel whose range in tenths is minimo (at raw 0)
// to maximo (at raw 250): (m + r × (M − m) ÷ 250) ÷ 10.
double channelValue(int raw, int minimo, int maximo);
// The shortest decimal form of a value, with a decimal comma ("25,5", "0", "12,954").
QString formatDecimal(double value);

// The switching type of a PGM output, as the module numbers it.
enum class PgmType { Direta = 0, Pulso = 1, Intermitente = 2 };

// The commands the console sends to a module on its open connection. Texts go out as their
// single-byte characters.
namespace ModuleCommands {
inline constexpr const char *kDownload = "DW";
inline constexpr const char *kUpload = "UPI";
inline constexpr const char *kUploadReady = "UPE";
inline constexpr const char *kUploadDone = "UPOK";
inline constexpr const char *kReset = "RESET";
// "#$" + password + "D": asks for a ChannelReading.
QByteArray readChannels(const QString &password);
// "#$" + password + "PGM1" (on) or "PGM0" (off) + byte n − 1 + the type digit + the time in
// seconds as two bytes, most significant first. The time keeps its low 16 bits.
QByteArray switchPgm(const QString &password, int n, bool on, int type, int seconds);
} // namespace ModuleCommands

} // namespace tulmo
