#pragma once

#include "ModuleParameterBlock.h"

#include <QSqlDatabase>
#include <QString>

#include <array>

namespace tulmo {

// What the console keeps of a module beside its parameter block, in its GPRS row: the model
// code, the access password, the range and unit of each analogue channel and the switching
// type and time of each PGM output.
struct ModuleSettings {
    QString imei;
    QString equipamento;
    QString senhaAcesso;
    std::array<int, kChannels> canalMinimo{};    // tenths, at raw reading 0
    std::array<int, kChannels> canalMaximo{};    // tenths, at raw reading 250
    std::array<QString, kChannels> canalUnidade; // empty when the row has none
    std::array<int, kPgmOutputs> tipoPgm{};      // 0 "Direta", 1 "Pulso", 2 "Intermitente"
    std::array<int, kPgmOutputs> tempoPgm{};     // seconds

    // The settings of a module without a row: ranges 0, type "Direta", time 1.
    static ModuleSettings none(const QString &imei);
};

namespace ModuleSettingsRepository {

// The columns are SMALLINT: a range or time beyond this cannot be stored.
inline constexpr int kLargestStored = 32767;
inline constexpr int kSmallestStored = -32768;
// The width of CANALn_UNIDADE.
inline constexpr int kUnitWidth = 10;

enum class Load { Found, Missing, Failed };
Load load(QSqlDatabase db, const QString &imei, ModuleSettings *out, QString *errorText = nullptr);

// Writes the row of s.imei and commits. Missing when no row has that identifier (nothing is
// written); Failed with the reason in errorText, nothing written.
enum class Save { Saved, Missing, Failed };
Save save(QSqlDatabase db, const ModuleSettings &s, QString *errorText = nullptr);

// The UPDATE as the console has always written it, one line per line.
QString updateStatement();

} // namespace ModuleSettingsRepository

} // namespace tulmo
