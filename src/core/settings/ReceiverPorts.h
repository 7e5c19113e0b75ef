#pragma once

#include "core/settings/ReceiverTable.h"

#include <QList>
#include <QString>

#include <functional>

namespace tulmo {

// The ports the active receivers claim: a serial receiver its line, a TCP/IP receiver its
// listening port and its event output (when it has one), a UDP/IP receiver its port. One port
// serves one claim; a second claim on it is refused by name, never by quietly switching a
// receiver off.
namespace ReceiverPorts {

enum class Use { SerialInput, EventOutput, TcpListener, UdpSocket };

struct Conflict {
    int holder = 0;   // index in the rows given: the receiver that keeps the port
    int claimant = 0; // the receiver refused it
    Use holderUse = Use::SerialInput;
    Use claimantUse = Use::SerialInput;
    QString port; // "COM1", "TCP 3030", "UDP 3030"
};

// The device a serial port index stands for (two names of one device are one port).
using SerialDevice = std::function<QString(int portaCom)>;

// "COM1" for index 0.
QString comName(int portaCom);
// A TCP/IP receiver whose event output is configured: PORTA_COM names a serial port.
bool hasEventOutput(const ReceiverConfig &r);

// Every refused claim among the active rows, in the rows' order. Inputs are served first, so
// an alarm receiver's line is never taken by another receiver's event output; between claims
// of one kind the lower-numbered receiver keeps the port. A TCP/IP receiver refused its
// listener claims no event output either.
QList<Conflict> conflicts(const QList<ReceiverConfig> &rows, const SerialDevice &device);

// How applying the configuration reports a conflict (port monitor, operator's alert).
QString applyText(const QList<ReceiverConfig> &rows, const Conflict &c);
// Why the settings dialog does not save the receiver at index edited, which is one side of c.
QString refusalText(const QList<ReceiverConfig> &rows, const Conflict &c, int edited);

} // namespace ReceiverPorts

} // namespace tulmo
