#pragma once

#include <QStringList>

namespace tulmo {

// What the settings dialog asks of reception once the RECEIVER table has changed: every slot
// follows its row again. The operator's texts of the ports that two active receivers claim come
// back.
class ReceptionControl {
public:
    virtual ~ReceptionControl() = default;
    virtual QStringList applyReceivers() = 0;
};

} // namespace tulmo
