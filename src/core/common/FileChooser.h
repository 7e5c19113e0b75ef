#pragma once

#include <QString>

namespace tulmo {

// File-open dialogs. The forms ask through this interface; the console answers with the
// desktop's dialog, tests with the file they chose.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen file, or an empty text when the operator cancelled. filter is in the
    // desktop's form: "Arquivos de som(*.wav)".
    virtual QString openFile(const QString &caption, const QString &folder,
                                 const QString &filter) = 0;
    // The file to write, or an empty text when the operator cancelled. suggested is the
    // proposed file (folder and name); a name typed without extension gets defaultSuffix. The
    // caller asks before overwriting. A chooser without a save dialog cancels.
    virtual QString saveFile(const QString &caption, const QString &suggested,
                             const QString &filter, const QString &defaultSuffix) {
        Q_UNUSED(caption) Q_UNUSED(suggested) Q_UNUSED(filter) Q_UNUSED(defaultSuffix)
        return QString();
    }
};

} // namespace tulmo
