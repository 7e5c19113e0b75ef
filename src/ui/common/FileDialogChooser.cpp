#include "FileDialogChooser.h"

#include <QFileDialog>

namespace tulmo {

QString FileDialogChooser::openFile(const QString &caption, const QString &folder,
                                    const QString &filter) {
    // Not the static call: its dialog is modal to the whole application, the pending-events
    // window included.
    QFileDialog dialog(m_parent, caption, folder, filter);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().constFirst();
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
