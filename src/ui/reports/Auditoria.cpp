#include "ui/reports/Auditoria.h"

#include "core/common/Clock.h"
#include "core/common/FileChooser.h"
#include "core/common/Prompt.h"
#include "core/operators/AuditTrail.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"
#include "ui/common/FileDialogChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "ui/common/ListWindow.h"
#include "ui/reports/ReportOutput.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tulmo {

namespace {
const QString kTitle = QStringLiteral("Auditoria");
const QString kAll = QStringLiteral("Todos");
const QString kAllActions = QStringLiteral("Todas");
} // namespace

Form_Auditoria::Form_Auditoria(CommonServices common, const LiveSettings &settings,
                               QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_settings(settings)
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    m_chooser = m_defaultChooser.get();
    setObjectName(QStringLiteral("Form_Auditoria"));
    setWindowTitle(kTitle);
    setWindowModality(Qt::WindowModal);
    resize(980, 560);

    auto *layout = new QVBoxLayout(this);
    auto *filters = new QGroupBox(QStringLiteral("Filtros"), this);
    auto *fl = new QGridLayout(filters);
    const QDate today = m_common.clock.now().date();
    m_from = dateField("DataInicial", today.addDays(-7), filters);
    m_to = dateField("DataFinal", today, filters);
    m_operator = new QComboBox(filters);
    m_operator->setObjectName(QStringLiteral("Combo_Operador"));
    m_account = new QLineEdit(filters);
    m_account->setObjectName(QStringLiteral("Edit_Conta"));
    m_account->setMaxLength(6);
    m_account->setPlaceholderText(QStringLiteral("Todas"));
    m_action = new QComboBox(filters);
    m_action->setObjectName(QStringLiteral("Combo_Acao"));
    m_action->addItem(kAllActions);
    m_action->addItems(audit::actions());
    auto *searchButton = new QPushButton(QStringLiteral("&Pesquisar"), filters);
    searchButton->setObjectName(QStringLiteral("btnPesquisar"));
    fl->addWidget(new QLabel(QStringLiteral("De"), filters), 0, 0);
    fl->addWidget(m_from, 0, 1);
    fl->addWidget(new QLabel(QStringLiteral("até"), filters), 0, 2);
    fl->addWidget(m_to, 0, 3);
    fl->addWidget(new QLabel(QStringLiteral("Operador"), filters), 0, 4);
    fl->addWidget(m_operator, 0, 5);
    fl->addWidget(new QLabel(QStringLiteral("Conta"), filters), 1, 0);
    fl->addWidget(m_account, 1, 1);
    fl->addWidget(new QLabel(QStringLiteral("Ação"), filters), 1, 2);
    fl->addWidget(m_action, 1, 3, 1, 3);
    fl->addWidget(searchButton, 1, 6);
    layout->addWidget(filters);

    m_grid = new QTableWidget(0, 8, this);
    m_grid->setObjectName(QStringLiteral("Grid_Auditoria"));
    m_grid->setHorizontalHeaderLabels(
        {QStringLiteral("Data e hora"), QStringLiteral("Operador"), QStringLiteral("Estação"),
         QStringLiteral("Ação"), QStringLiteral("Conta"), QStringLiteral("Descrição"),
         QStringLiteral("Antes"), QStringLiteral("Depois")});
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_grid);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("Lbl_Registros"));
    layout->addWidget(m_count);

    const QList<QPushButton *> buttons =
        buttonRow(layout, this,
                  {{"btnImprimir", QStringLiteral("&Imprimir")},
                   {"btnExportar", QStringLiteral("&Exportar")},
                   {"btnFechar", QStringLiteral("&Fechar")}});
    m_print = buttons[0];
    m_export = buttons[1];
    QPushButton *close = buttons[2];
    m_print->setEnabled(false);
    m_export->setEnabled(false);

    connect(searchButton, &QPushButton::clicked, this, &Form_Auditoria::search);
    connect(m_print, &QPushButton::clicked, this, [this] {
        if (m_report)
            reportOutput::printHtml(this, kTitle, m_report->html(m_filter, m_settings.companyName()));
    });
    connect(m_export, &QPushButton::clicked, this, [this] {
        if (!m_report) return;
        const QString path = reportOutput::chooseCsvPath(
            m_chooser, m_common.prompt,
            QStringLiteral("Auditoria_%1.csv").arg(m_filter.to.toString(QStringLiteral("yyyyMMdd"))));
        if (!path.isEmpty()) exportTo(path);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    applyKeyboardHabits(this);
}

Form_Auditoria::~Form_Auditoria() = default;

void Form_Auditoria::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    // The names as the audit knows them, those of operators since deleted included.
    const QString chosen = m_operator->currentText();
    m_operator->clear();
    m_operator->addItem(kAll);
    m_operator->addItems(AuditReport::operators(m_common.database.primary()));
    m_operator->setCurrentIndex(std::max(0, m_operator->findText(chosen)));
}

void Form_Auditoria::tell(const QString &text) {
    if (m_common.prompt) m_common.prompt->message(text, kTitle, Prompt::Icon::Warning);
}

bool Form_Auditoria::search() {
    AuditFilter f;
    f.from = m_from->date();
    f.to = m_to->date();
    if (f.from > f.to) {
        tell(QStringLiteral("A data inicial é posterior à data final."));
        return false;
    }
    if (m_operator->currentIndex() > 0) f.operador = m_operator->currentText();
    const QString conta = m_account->text().trimmed();
    if (!conta.isEmpty())
        f.conta = (QStringLiteral("000000") + conta).right(6);
    if (m_action->currentIndex() > 0) f.acao = m_action->currentText();
    QString error;
    std::optional<AuditReport> report = AuditReport::read(m_common.database.primary(), f, &error);
    if (!report) {
        tell(error);
        return false;
    }
    m_report = std::move(report);
    m_filter = f;
    m_grid->setRowCount(int(m_report->rows.size()));
    for (int r = 0; r < m_report->rows.size(); ++r) {
        const AuditRow &a = m_report->rows[r];
        const QString cells[] = {a.quando.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                                 a.operador, a.estacao, a.acao, a.conta, a.descricao, a.antes,
                                 a.depois};
        for (int c = 0; c < 8; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c >= 5) item->setToolTip(cells[c]);
            m_grid->setItem(r, c, item);
        }
    }
    m_grid->resizeColumnsToContents();
    for (int c = 5; c < 8; ++c)
        m_grid->setColumnWidth(c, std::min(m_grid->columnWidth(c), 260));
    const int n = int(m_report->rows.size());
    m_count->setText(n == 0 ? QStringLiteral("Nenhum registro no período.")
                     : m_report->more
                         ? QStringLiteral("Os %1 registros mais recentes; restrinja o período para "
                                          "ver os demais.")
                               .arg(n)
                         : n == 1 ? QStringLiteral("1 registro.")
                                  : QStringLiteral("%1 registros.").arg(n));
    m_print->setEnabled(n > 0);
    m_export->setEnabled(n > 0);
    return true;
}

void Form_Auditoria::printTo(QPrinter *printer) {
    if (m_report) reportOutput::printHtml(printer, m_report->html(m_filter, m_settings.companyName()));
}

bool Form_Auditoria::exportTo(const QString &path) {
    return m_report && reportOutput::saveCsv(path, m_report->csv(m_filter), m_common.prompt);
}

} // namespace tulmo
