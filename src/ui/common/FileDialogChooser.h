#pragma once

#include "core/common/FileChooser.h"

class QWidget;

namespace tulmo {

// The desktop's file dialogs, over the window that asks.
class FileDialogChooser : public FileChooser {
public:
    explicit FileDialogChooser(QWidget *parent)
        : m_parent(parent) {}
    QString openFile(const QString &caption, const QString &folder,
                     const QString &filter) override;
    QString saveFile(const QString &caption, const QString &suggested, const QString &filter,
                     const QString &defaultSuffix) override;

private:
    QWidget *m_parent;
};

// Gives a widget the name the console's forms have always given it, and returns it.
template <typename W> W *named(W *w, const char *nome) {
    w->setObjectName(QLatin1String(nome));
    return w;
}

} // namespace tulmo
