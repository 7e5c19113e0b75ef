#pragma once

#include "core/registry/EventCodeRepository.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace tulmo {

// The Contact ID event codes a new installation starts with, so that a station receives its
// first panels with their events already classified. Only a database the console has just
// created gets them; an existing catalogue is the station's own and is never touched.
namespace StandardCatalogue {

// The stored path of the sound that alarms, emergencies and panics repeat until silenced.
inline constexpr const char *kAlarmSound = "C:\\Tulmo\\Sons\\P1Sound.wav";

// Every code of the standard catalogue, by code.
QList<EventCode> rows();

// Writes the standard catalogue into an empty EVENTOS_PADRAO, all rows or none.
bool fill(QSqlDatabase db, QString *errorText = nullptr);

} // namespace StandardCatalogue

} // namespace tulmo
