#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tulmo::sim {

// A station made ready for the simulator's devices, so that it answers them from its first
// start: a TCP/IP receiver for the GPRS modules and the DC-09 panels over TCP, a UDP/IP one for
// DC-09 over UDP, a serial one on the simulated receiver's device, the modules registered as
// reviewed and the panels' AES key. What is there already is kept; the station must not be
// running (its Dados/ folder is taken for the time of the set-up).
struct StationSetup {
    QString folder; // the program folder: Dados/ and its Config.ini are inside
    int tcpPort = 9000;
    int udpPort = 0;      // 0: no UDP/IP receiver
    QString serialDevice; // empty: no serial receiver
    int modules = 10;
    int firstImei = 100001;
    int firstAccount = 1001;
    int panels = 0; // DC-09 panels of each kind given the key
    // The simulator's panels over UDP count their accounts from 3001, over TCP from 4001.
    QList<int> firstPanelAccounts{3001, 4001};
    QByteArray key;

    // What was done, a line each, in Portuguese; false with the reason in error.
    bool run(QStringList *done, QString *error) const;
};

} // namespace tulmo::sim
