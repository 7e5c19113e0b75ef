#pragma once

#include "core/reports/ReportLayout.h"
#include "ui/reports/ReportPainter.h"

#include <QDialog>
#include <QImage>
#include <QMap>

#include <memory>

class QComboBox;
class QLabel;
class QPainter;
class QPrinter;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace tulmo {

class ReportSource;

// The preview of a report: one page at a time, painted when it is shown from the events of
// that page alone, so the first page of a report of a hundred thousand events shows as soon
// as its page is read, and nothing holds every page. Printing (a printer, or a PDF file from
// the print dialog) goes page after page the same way, reading the next page while the event
// loop runs, and can be stopped.
class ReportPreview : public QDialog {
    Q_OBJECT
public:
    // source has been opened; firstPage holds its first page's events. info: the title, the
    // station's name and the printing time.
    ReportPreview(ReportSource &source, const ReportLayout &layout, const ReportPageInfo &info,
                  const QList<ReportRow> &firstPage, QWidget *parent = nullptr);
    ~ReportPreview() override;

    int currentPage() const { return m_page; }
    int pageCount() const;
    void showPage(int page);
    // The page on screen, as last painted (null while its events are being read).
    const QImage &pageImage() const { return m_image; }

    // Prints every page on printer (set up by the caller: a printer, or a PDF file); answers
    // printed. The print job's title is "Relatórios de Eventos".
    void printTo(QPrinter *printer);
    bool printing() const { return m_printer != nullptr; }
    void cancelPrinting();

signals:
    void printed(bool ok, const QString &error);

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    void pageReady(int page, const QList<ReportRow> &rows);
    void pageFailed(int page, const QString &error);
    void paintShown(const QList<ReportRow> &rows);
    void printNext(const QList<ReportRow> &rows);
    void endPrinting(bool ok, const QString &error);
    void printClicked();
    double zoom() const;

    ReportSource &m_source;
    ReportPainter m_painter;
    QList<ReportRow> m_shownRows;
    int m_page = 0;
    QImage m_image;

    QPrinter *m_printer = nullptr;
    std::unique_ptr<QPainter> m_printPainter;
    std::unique_ptr<QPrinter> m_ownPrinter; // the one the print dialog set up
    int m_printPage = 0;
    int m_printFirst = 0;
    int m_printLast = 0;

    QLabel *m_view;
    QScrollArea *m_scroll;
    QSpinBox *m_pageBox;
    QLabel *m_pageTotal;
    QComboBox *m_zoom;
    QPushButton *m_print;
    QLabel *m_state;
};

} // namespace tulmo
