#include "FileDialogChooser.h"

#include <QFileDialog>

namespace tulmo {

QString FileDialogChooser::openFile(const QString &caption, const QString &folder,
                                    const QString &filter) {
    return QFileDialog::getOpenFileName(m_parent, caption, folder, filter);
}

} // namespace tulmo
