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
};

} // namespace tulmo
