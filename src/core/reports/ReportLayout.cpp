#include "core/reports/ReportLayout.h"

#include "core/common/DateFormats.h"

#include <cmath>

namespace tulmo {

namespace {

using Src = ReportItem::Source;
using Al = ReportItem::Align;

// Room the bands leave on a page; a hair of tolerance so that 51 bands of 5.0 mm fit where
// the sum says they do.
constexpr double kEpsilon = 1e-6;

double contentHeight() {
    return ReportLayout::kPageHeight - ReportLayout::kTopMargin - ReportLayout::kBottomMargin;
}

ReportLayout make(bool complete) {
    ReportLayout l;
    l.name = complete ? QStringLiteral("Form_Relatorios_Completo")
                      : QStringLiteral("Form_Relatorios_Todos");
    l.header.height = 19.8;
    l.header.items = {
        {Src::Title, 95.0, 2.1, 0.0, Al::Centre},
        {Src::Caption, 2.4, 10.6, 12.7, Al::Left, QStringLiteral("CONTA")},
        {Src::Caption, 16.9, 10.6, 17.2, Al::Left, QStringLiteral("EVENTO")},
        {Src::Caption, 105.8, 10.6, 32.0, Al::Centre, QStringLiteral("Cod/Argumento")},
        {Src::Caption, complete ? 152.1 : 156.4, 10.6, 11.1, Al::Left, QStringLiteral("DATA")},
    };
    l.detail.height = complete ? 10.6 : 5.0;
    l.detail.items = {
        {Src::Conta, 0.0, 0.0, 17.2, Al::Left},
        {Src::Descricao, 16.9, 0.0, 91.3, Al::Left},
        {Src::CodigoAlarme, 108.0, 0.0, 10.8, Al::Centre},
        {Src::Argumento, 118.5, 0.0, 17.2, Al::Centre},
        {Src::Data, 152.4, 0.0, 0.0, Al::Left},
    };
    if (complete) {
        l.header.items
            << ReportItem{Src::Caption, 2.4, 14.8, 44.5, Al::Left, QStringLiteral("INTERVENÇÃO")}
            << ReportItem{Src::Caption, 48.9,     14.8,
                          59.3,         Al::Left, QStringLiteral("DETALHES DO ATENDIMENTO")}
            << ReportItem{Src::Caption, 152.1, 14.8, 36.5, Al::Left, QStringLiteral("DATA/HORA")};
        l.detail.items << ReportItem{Src::Intervencao, 0.0, 4.2, 46.8, Al::Left}
                       << ReportItem{Src::Detalhes, 48.7, 4.2, 101.9, Al::Left}
                       << ReportItem{Src::DataIntervencao, 152.4, 4.2, 0.0, Al::Left};
    }
    l.summary.height = 7.7;
    l.summary.items = {{Src::PrintedAt, ReportLayout::kBandWidth, 0.0, 0.0, Al::Right}};
    l.footer.height = 5.0;
    l.footer.items = {{Src::Company, 0.0, 0.0, 120.0, Al::Left},
                      {Src::PageNumber, ReportLayout::kBandWidth, 0.0, 0.0, Al::Right}};
    return l;
}

} // namespace

const ReportLayout &ReportLayout::summaryLayout() {
    static const ReportLayout l = make(false);
    return l;
}

const ReportLayout &ReportLayout::completeLayout() {
    static const ReportLayout l = make(true);
    return l;
}

int ReportLayout::rowsPerPage() const {
    return int(std::floor((contentHeight() - header.height) / detail.height + kEpsilon));
}

int ReportLayout::pageCount(qint64 rows) const {
    const int perPage = rowsPerPage();
    const qint64 full = rows == 0 ? 1 : (rows + perPage - 1) / perPage;
    const qint64 onLast = rows - (full - 1) * perPage;
    const bool fits =
        header.height + onLast * detail.height + summary.height <= contentHeight() + kEpsilon;
    return int(fits ? full : full + 1);
}

bool ReportLayout::summaryOnPage(int page, qint64 rows, int *rowsBefore) const {
    const int last = pageCount(rows) - 1;
    if (page != last) return false;
    const qint64 before = rows - qint64(page) * rowsPerPage();
    *rowsBefore = int(qMax<qint64>(0, before));
    return true;
}

QString ReportLayout::itemText(const ReportItem &item, const ReportRow *row,
                               const ReportPageInfo &page) {
    switch (item.source) {
    case Src::Caption:
        return item.caption;
    case Src::Title:
        return page.title;
    case Src::PrintedAt:
        return QStringLiteral("Impresso em: ") + page.printedAt.toString(DateFormats::kDateTime);
    case Src::Company:
        return page.company.trimmed();
    case Src::PageNumber:
        return QStringLiteral("Página %1 de %2").arg(page.page + 1).arg(page.pageCount);
    default:
        break;
    }
    if (!row) return QString();
    switch (item.source) {
    case Src::Conta:
        return row->conta;
    case Src::Descricao:
        return row->descricao;
    case Src::CodigoAlarme:
        return row->codigoAlarme;
    case Src::Argumento:
        return row->argumento;
    case Src::Data:
        return row->data.isValid() ? row->data.toString(DateFormats::kDateTime) : QString();
    case Src::Intervencao:
        return row->intervencao;
    case Src::Detalhes:
        return row->detalhes;
    case Src::DataIntervencao:
        return row->dataIntervencao.isValid()
                   ? row->dataIntervencao.toString(DateFormats::kDateTime)
                   : QString();
    default:
        return QString();
    }
}

QString reportTitle(const QString &conta, const QString &firstCliente) {
    if (conta == QLatin1String("Todas"))
        return QStringLiteral("RELATÓRIO DE EVENTOS DE TODOS OS CLIENTES");
    return QStringLiteral("RELATÓRIO DE EVENTOS DO CLIENTE - ") + firstCliente;
}

QString mailReportTitle(const QString &conta, const QString &nome) {
    return QStringLiteral("RELATÓRIO DE EVENTOS DO CLIENTE ") + conta + QLatin1Char('-') + nome;
}

} // namespace tulmo
