#include "FileDialogChooser.h"

#include <QFileDialog>

namespace tulmo {

QString FileDialogChooser::openFile(const QString &caption, const QString &folder,
                                    const QString &filter) {
    return QFileDialog::getOpenFileName(m_parent, caption, folder, filter);
}

QString FileDialogChooser::saveFile(const QString &caption, const QString &suggested,
                                    const QString &filter, const QString &defaultSuffix) {
    QFileDialog dialog(m_parent, caption, QString(), filter);
    // Modal to its window only: the pending-events window stays usable.
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    // The console asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace tulmo
