#pragma once

#include <QString>

class QPrinter;
class QWidget;

namespace tulmo {

class FileChooser;
class Prompt;

// What the summary windows (answer times, audit) share to print and export.
namespace reportOutput {

// Writes the text as a CSV file with the byte order mark, so that a spreadsheet reads the
// accents; false, with the operator told why, when it cannot.
bool saveCsv(const QString &path, const QString &text, Prompt *prompt);
// Asks where to export, offering defaultName; ".csv" is added when no suffix is given. Empty
// when the operator gave up, or did not want an existing file overwritten.
QString chooseCsvPath(FileChooser *chooser, Prompt *prompt, const QString &defaultName);
// Prints the page on a printer set up by the caller (a printer, or a PDF file).
void printHtml(QPrinter *printer, const QString &html);
// Asks for a printer and prints the page on it.
void printHtml(QWidget *parent, const QString &title, const QString &html);

} // namespace reportOutput

} // namespace tulmo
