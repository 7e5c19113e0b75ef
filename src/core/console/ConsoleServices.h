#pragma once

#include "core/console/CommonServices.h"

#include <QString>

class QTimer;

namespace tulmo {

class AccountSupervisor;
class AlertDesk;
class ConnectionRegistry;
class CurrentOperator;
class DM1;
class Dc09Keys;
class DeviceLink;
class EventPump;
class EventQueue;
class EventRecorder;
class InterventionKinds;
class LiveSettings;
class ReceptionControl;
class ReceptionStatus;
class SoundOutput;

// What the main window and the headless service's output work with: the services of the
// console, each by itself, not the core that builds, wires and starts them. The main window
// hands each form only the few of these it uses.
struct ConsoleServices {
    CommonServices common;
    LiveSettings &settings;
    DM1 &dm;
    ReceptionControl &reception;
    ConnectionRegistry &connections;
    DeviceLink &deviceLink;
    Dc09Keys &dc09Keys;
    EventQueue &eventQueue;
    EventPump &pump;
    EventRecorder &recorder;
    AccountSupervisor &supervisor;
    InterventionKinds &interventionKinds;
    CurrentOperator &currentOperator;
    AlertDesk &alerts;
    ReceptionStatus &status;
    QTimer &tick; // the one-second driver
    SoundOutput *sound;
    QString dataDir;
};

} // namespace tulmo
