#pragma once

#include <QString>
#include <QStringList>

namespace tulmo {

// What the settings dialog asks of reception once the RECEIVER table has changed: every slot
// follows its row again. The operator's texts of the ports that two active receivers claim come
// back.
class ReceptionControl {
public:
    virtual ~ReceptionControl() = default;
    virtual QStringList applyReceivers() = 0;
    // On a station of several workstations, the workstation that holds the devices'
    // connections when it is not this one ("nenhuma estação" while none does); empty when this
    // process receives. Module programming, the port monitor and the connected devices work
    // only there.
    virtual QString receivingElsewhere() const { return {}; }
    // The operator's text of what works only where reception is.
    static QString onlyWhereReceived(const QString &station) {
        return QStringLiteral("Os equipamentos estão ligados à estação %1, que recebe os "
                              "eventos: a programação de módulos, o monitor das portas e os "
                              "equipamentos conectados funcionam somente nela.")
            .arg(station);
    }
};

} // namespace tulmo
