#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

namespace tulmo {

// One event as the reports show it.
struct ReportRow {
    int sequencia = 0;
    QString conta, cliente, descricao, codigoAlarme, argumento, intervencao, detalhes;
    QDateTime data, dataIntervencao;
};

// A text of a band: a caption, the report's title, a column of the event, or the printing
// time. Positions and widths in millimetres; left from the left edge of the printable band,
// top from the top of the band. A width of 0 is automatic (grows with the text); a fixed
// width cuts a longer text. A centred item is centred on left + width / 2, a right-aligned
// one ends at left + width.
struct ReportItem {
    enum class Source {
        Caption,
        Title,
        Conta,
        Descricao,
        CodigoAlarme,
        Argumento,
        Data,
        Intervencao,
        Detalhes,
        DataIntervencao,
        PrintedAt,
        Company,   // the station's name, from the settings
        PageNumber // "Página N de M"
    };
    enum class Align { Left, Centre, Right };
    Source source;
    double left, top, width;
    Align align = Align::Left;
    QString caption = {};
};

struct ReportBand {
    double height;
    QList<ReportItem> items;
};

// What a page shows besides its events: the report's title, the station's name, the printing
// time, and the page's place among the report's pages.
struct ReportPageInfo {
    QString title;
    QString company;
    QDateTime printedAt;
    int page = 0; // from 0
    int pageCount = 1;
};

// The geometry of one report layout, shared by the painted pages and the text file. A4
// portrait, the 190 mm band 10 mm from the left edge. Every page starts with the page header
// and ends with the page footer, in the bottom margin below the events (the station's name and
// "Página N de M"); the summary follows the last event, on a page of its own when it does not
// fit.
class ReportLayout {
public:
    static constexpr double kPageWidth = 210.0;
    static constexpr double kPageHeight = 297.0;
    static constexpr double kLeftMargin = 10.0;
    static constexpr double kTopMargin = 10.0;
    static constexpr double kBottomMargin = 10.0;
    static constexpr double kBandWidth = 190.0;
    static constexpr double kFontPoints = 10.0;

    // Form_Relatorios_Todos: one line per event.
    static const ReportLayout &summaryLayout();
    // Form_Relatorios_Completo: two lines per event, the second with the intervention.
    static const ReportLayout &completeLayout();
    static const ReportLayout &of(bool complete) {
        return complete ? completeLayout() : summaryLayout();
    }

    QString name;
    ReportBand header, detail, summary, footer;

    int rowsPerPage() const;
    // Pages of a report of rows events, the summary's included.
    int pageCount(qint64 rows) const;
    // Whether page (0-based) of a report of rows events carries the summary, and after how
    // many of its events.
    bool summaryOnPage(int page, qint64 rows, int *rowsBefore) const;
    // Top of the detail band of the index-th event of a page, from the top of the page.
    double detailTop(int index) const { return kTopMargin + header.height + index * detail.height; }
    double headerTop() const { return kTopMargin; }
    // Top of the page footer, from the top of the page: just below the band of the events.
    double footerTop() const { return kPageHeight - kBottomMargin + 1.5; }

    // The text an item shows for an event (or for the page header, the summary and the
    // footer).
    static QString itemText(const ReportItem &item, const ReportRow *row,
                            const ReportPageInfo &page);
};

// "RELATÓRIO DE EVENTOS DE TODOS OS CLIENTES", or for one account "RELATÓRIO DE EVENTOS DO
// CLIENTE - " and the holder's name as the first selected event recorded it.
QString reportTitle(const QString &conta, const QString &firstCliente);
// The title of one account's mailed report.
QString mailReportTitle(const QString &conta, const QString &nome);

} // namespace tulmo
