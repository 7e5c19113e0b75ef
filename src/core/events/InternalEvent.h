#pragma once

#include "core/events/RecordingRepository.h"

#include <QDateTime>
#include <QString>

namespace tulmo {

// An event of the console itself, for a fault the operator must see: a line that could never
// be recorded (the rejects file is nobody's reading), the queue file that could not be
// written. It is stored as the recording stores a type 10 code, "INTERNO" with CLIENTE
// "EVENTO INTERNO", and pending (TRATADO = 0), so that it is listed in "Eventos Pendentes"
// and counted in "Pendentes: N" until an operator treats it. It is no line of the queue: it
// cannot itself be turned away.
struct InternalEvent {
    static constexpr int kPrioridade = 4; // "ALTA"

    QString descricao; // the fault; cut to the column's width when stored
    QDateTime data;    // when it happened
    // Of the line it concerns, as far as they can be read, so the pending window shows
    // whose event it was.
    QString conta, codigo, argumento;

    // "<reason>: <line>", e.g. "partição inválida: "0A": Rc01 Ln1 Ct1234 Pt0A …".
    static InternalEvent rejectedLine(const QString &line, const QString &reason,
                                      const QDateTime &when);
    // The queue file could not be written from since on; the text says why.
    static InternalEvent queueWriteFault(const QString &text, const QDateTime &since);
    // What a station of several workstations records of itself (a takeover of reception).
    static InternalEvent stationNotice(const QString &text, const QDateTime &when);

    EventRow row(const QDateTime &now) const;
};

} // namespace tulmo
