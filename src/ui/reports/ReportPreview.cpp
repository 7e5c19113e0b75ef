#include "ui/reports/ReportPreview.h"

#include "core/reports/ReportSource.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tulmo {

namespace {

QPushButton *button(QWidget *owner, QHBoxLayout *bar, const char *name, const QString &text) {
    auto *b = new QPushButton(text, owner);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    bar->addWidget(b);
    return b;
}

} // namespace

ReportPreview::ReportPreview(ReportSource &source, const ReportLayout &layout,
                             const ReportPageInfo &info, const QList<ReportRow> &firstPage,
                             QWidget *parent)
    : QDialog(parent)
    , m_source(source)
    , m_painter(layout, info)
    , m_shownRows(firstPage) {
    setObjectName(QStringLiteral("previewDialog"));
    setWindowTitle(QStringLiteral("Relatórios de Eventos"));
    setWindowModality(Qt::WindowModal);
    auto *v = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    v->addLayout(bar);
    QPushButton *first = button(this, bar, "firstPage", QStringLiteral("Primeira"));
    QPushButton *previous = button(this, bar, "previousPage", QStringLiteral("Anterior"));
    m_pageBox = new QSpinBox(this);
    m_pageBox->setObjectName(QStringLiteral("pageNumber"));
    m_pageBox->setRange(1, pageCount());
    m_pageBox->setKeyboardTracking(false);
    // Page Up and Page Down belong to the report, not to the boxes (only clicked into).
    m_pageBox->setFocusPolicy(Qt::ClickFocus);
    bar->addWidget(m_pageBox);
    m_pageTotal = new QLabel(QStringLiteral("de %1").arg(pageCount()), this);
    bar->addWidget(m_pageTotal);
    QPushButton *next = button(this, bar, "nextPage", QStringLiteral("Próxima"));
    QPushButton *last = button(this, bar, "lastPage", QStringLiteral("Última"));
    m_zoom = new QComboBox(this);
    m_zoom->setObjectName(QStringLiteral("zoom"));
    m_zoom->addItems({"50%", "75%", "100%", "125%", "150%", "200%"});
    m_zoom->setCurrentIndex(2);
    m_zoom->setFocusPolicy(Qt::ClickFocus);
    bar->addWidget(m_zoom);
    bar->addStretch(1);
    m_print = button(this, bar, "printButton", QStringLiteral("Imprimir..."));
    QPushButton *close = button(this, bar, "closeButton", QStringLiteral("Fechar"));
    m_scroll = new QScrollArea(this);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setAlignment(Qt::AlignHCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_view = new QLabel(m_scroll);
    m_view->setObjectName(QStringLiteral("pageView"));
    m_scroll->setWidget(m_view);
    v->addWidget(m_scroll, 1);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("previewState"));
    v->addWidget(m_state);
    resize(900, 1000);

    connect(first, &QPushButton::clicked, this, [this] { showPage(0); });
    connect(previous, &QPushButton::clicked, this, [this] { showPage(m_page - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPage(m_page + 1); });
    connect(last, &QPushButton::clicked, this, [this] { showPage(pageCount() - 1); });
    connect(m_pageBox, &QSpinBox::valueChanged, this, [this](int n) { showPage(n - 1); });
    connect(m_zoom, &QComboBox::currentIndexChanged, this, [this] { paintShown(m_shownRows); });
    connect(m_print, &QPushButton::clicked, this, &ReportPreview::printClicked);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_source, &ReportSource::pageReady, this, &ReportPreview::pageReady);
    connect(&m_source, &ReportSource::pageFailed, this, &ReportPreview::pageFailed);
    paintShown(m_shownRows);
}

ReportPreview::~ReportPreview() {
    if (m_printPainter) m_printPainter->end();
}

// Page Up and Page Down leaf through the report, Ctrl+Home and Ctrl+End go to its ends.
void ReportPreview::keyPressEvent(QKeyEvent *e) {
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (e->key() == Qt::Key_PageDown)
        showPage(m_page + 1);
    else if (e->key() == Qt::Key_PageUp)
        showPage(m_page - 1);
    else if (ctrl && e->key() == Qt::Key_Home)
        showPage(0);
    else if (ctrl && e->key() == Qt::Key_End)
        showPage(pageCount() - 1);
    else
        return QDialog::keyPressEvent(e);
}

int ReportPreview::pageCount() const {
    return m_source.pageCount();
}

double ReportPreview::zoom() const {
    return m_zoom->currentText().chopped(1).toDouble() / 100.0;
}

void ReportPreview::showPage(int page) {
    page = qBound(0, page, pageCount() - 1);
    if (page == m_page && !m_image.isNull()) return;
    m_page = page;
    {
        const QSignalBlocker b(m_pageBox);
        m_pageBox->setValue(page + 1);
    }
    m_image = QImage();
    m_state->setText(QStringLiteral("Lendo a página %1...").arg(page + 1));
    m_source.requestPage(page);
}

void ReportPreview::pageReady(int page, const QList<ReportRow> &rows) {
    if (m_printer && page == m_printPage) printNext(rows);
    if (page != m_page || !m_image.isNull()) return; // an answer to an earlier click
    m_shownRows = rows;
    paintShown(rows);
}

void ReportPreview::pageFailed(int page, const QString &error) {
    if (m_printer && page == m_printPage) {
        endPrinting(false, error);
        return;
    }
    m_state->setText(
        QStringLiteral("Não foi possível ler a página %1: %2").arg(page + 1).arg(error));
}

void ReportPreview::paintShown(const QList<ReportRow> &rows) {
    // The page at the screen's resolution times the zoom: the font's points resolve on it.
    const double dpi = logicalDpiX() * zoom();
    const int dpm = int(dpi / 0.0254);
    QImage img(qRound(ReportLayout::kPageWidth / 25.4 * dpi),
               qRound(ReportLayout::kPageHeight / 25.4 * dpi), QImage::Format_RGB32);
    img.setDotsPerMeterX(dpm);
    img.setDotsPerMeterY(dpm);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::TextAntialiasing);
        m_painter.paintPage(p, m_page, m_source.rowCount(), rows);
    }
    m_image = img;
    m_view->setPixmap(QPixmap::fromImage(img));
    m_view->resize(img.size());
    m_state->setText(QStringLiteral("Página %1 de %2 — %3 eventos")
                         .arg(m_page + 1)
                         .arg(pageCount())
                         .arg(m_source.rowCount()));
}

void ReportPreview::printClicked() {
    if (m_printer) {
        cancelPrinting();
        return;
    }
    m_ownPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(m_ownPrinter.get(), this);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinMax(1, pageCount());
    if (dialog.exec() != QDialog::Accepted) return;
    printTo(m_ownPrinter.get());
}

void ReportPreview::printTo(QPrinter *printer) {
    printer->setDocName(QStringLiteral("Relatórios de Eventos"));
    printer->setFullPage(true);
    printer->setPageSize(QPageSize(QPageSize::A4));
    printer->setPageOrientation(QPageLayout::Portrait);
    m_printer = printer;
    m_printPainter = std::make_unique<QPainter>();
    if (!m_printPainter->begin(printer)) {
        endPrinting(false, QStringLiteral("A impressora não pôde ser aberta."));
        return;
    }
    m_print->setText(QStringLiteral("Cancelar impressão"));
    // The print dialog's range, when one was chosen (1-based, 0: every page).
    m_printPage = printer->fromPage() > 0 ? printer->fromPage() - 1 : 0;
    m_printLast =
        printer->toPage() > 0 ? qMin(printer->toPage(), pageCount()) - 1 : pageCount() - 1;
    m_printFirst = m_printPage;
    m_state->setText(
        QStringLiteral("Imprimindo a página %1 de %2...").arg(m_printPage + 1).arg(pageCount()));
    m_source.requestPage(m_printPage);
}

void ReportPreview::printNext(const QList<ReportRow> &rows) {
    if (m_printPage > m_printFirst) m_printer->newPage();
    m_painter.paintPage(*m_printPainter, m_printPage, m_source.rowCount(), rows);
    if (++m_printPage > m_printLast) {
        endPrinting(true, QString());
        return;
    }
    m_state->setText(
        QStringLiteral("Imprimindo a página %1 de %2...").arg(m_printPage + 1).arg(pageCount()));
    m_source.requestPage(m_printPage);
}

void ReportPreview::cancelPrinting() {
    if (!m_printer) return;
    m_printer->abort();
    endPrinting(false, QStringLiteral("Impressão cancelada."));
}

void ReportPreview::endPrinting(bool ok, const QString &error) {
    if (m_printPainter && m_printPainter->isActive()) m_printPainter->end();
    m_printPainter.reset();
    m_printer = nullptr;
    m_print->setText(QStringLiteral("Imprimir..."));
    m_state->setText(ok ? QStringLiteral("Impressão concluída: %1 páginas.").arg(pageCount())
                        : error);
    emit printed(ok, error);
}

} // namespace tulmo
