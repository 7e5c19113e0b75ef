#include "ui/reports/ReportOutput.h"

#include "core/common/FileChooser.h"
#include "core/common/Prompt.h"

#include <QDir>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>

namespace tulmo::reportOutput {

bool saveCsv(const QString &path, const QString &text, Prompt *prompt) {
    QSaveFile f(path);
    const QByteArray bytes = "\xEF\xBB\xBF" + text.toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (prompt)
            prompt->message(QStringLiteral("Não foi possível gravar o arquivo %1: %2")
                                .arg(QDir::toNativeSeparators(path), f.errorString()),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    return true;
}

QString chooseCsvPath(FileChooser *chooser, Prompt *prompt, const QString &defaultName) {
    if (!chooser) return QString();
    QString path = chooser->saveFile(QStringLiteral("Exportar"), defaultName,
                                     QStringLiteral("Planilha (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty()) return QString();
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    if (QFileInfo::exists(path) && prompt &&
        !prompt->question(QStringLiteral("Deseja sobreescrever o arquivo existente?"),
                          QStringLiteral("ARQUIVO JÁ EXISTE")))
        return QString();
    return path;
}

void printHtml(QPrinter *printer, const QString &html) {
    QTextDocument doc;
    doc.setHtml(html);
    doc.print(printer);
}

void printHtml(QWidget *parent, const QString &title, const QString &html) {
    QPrinter printer;
    printer.setDocName(title);
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() == QDialog::Accepted) printHtml(&printer, html);
}

} // namespace tulmo::reportOutput
