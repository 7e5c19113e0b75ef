#include "ui/reports/Relatorio_Selecao.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Paths.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/settings/LiveSettings.h"
#include "core/reports/ReportMailFlow.h"
#include "ui/reports/ReportPreview.h"
#include "core/reports/ReportSource.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStringListModel>
#include <QVBoxLayout>

#include <utility>

namespace tulmo {

namespace {
const QString kTodas = QStringLiteral("Todas");
const QString kTodos = QStringLiteral("Todos");
} // namespace

Form_Relatorio_Selecao::Form_Relatorio_Selecao(CommonServices common, LiveSettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_settings(settings)
    , m_source(new ReportSource(common.database, this))
    // The account list of a large station takes a while to read: on a thread of its own, it
    // never delays a page.
    , m_accountSource(new ReportSource(common.database, this))
    , m_mail(new ReportMailFlow(*m_source, common.database.primary(), settings,
                                common.prompt, common.clock, Paths::programDir(), this))
    , m_runPreview([](ReportPreview &p) { p.exec(); }) {
    setObjectName(QStringLiteral("Form_Relatorio_Selecao"));
    setWindowTitle(QStringLiteral("Relatórios de Eventos"));
    // Modal to the main window only: the pending-events window stays usable.
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    applyKeyboardHabits(this);

    connect(m_accountSource, &ReportSource::accountsRead, this,
            [this](const QStringList &accounts) {
                m_readingAccounts = false;
                const QString shown = m_conta->currentText();
                m_accounts->setStringList(QStringList{kTodas} + accounts);
                m_conta->setEditText(shown);
                // Activations come in bursts: one more reading covers all that came meanwhile.
                if (std::exchange(m_readAgain, false)) return rebuildAccounts();
                if (std::exchange(m_mailWaitsForAccounts, false)) startMail(m_mailSelection);
                emit accountsRebuilt();
            });
    connect(m_source, &ReportSource::opened, this, &Form_Relatorio_Selecao::opened);
    connect(m_source, &ReportSource::pageReady, this, &Form_Relatorio_Selecao::firstPage);
    connect(m_mail, &ReportMailFlow::statusChanged, m_status,
            [this](const QString &t) { m_status->showMessage(t); });
    connect(m_mail, &ReportMailFlow::progressChanged, this, [this](int value, int maximum) {
        m_gauge->setVisible(maximum > 0);
        if (maximum > 0) {
            m_gauge->setMaximum(maximum);
            m_gauge->setValue(value);
        }
    });
    connect(m_mail, &ReportMailFlow::accountSelected, m_conta, &QComboBox::setEditText);
    connect(m_mail, &ReportMailFlow::finished, this, &Form_Relatorio_Selecao::mailFinished);
}

Form_Relatorio_Selecao::~Form_Relatorio_Selecao() = default;

void Form_Relatorio_Selecao::buildControls() {
    auto *grid = new QGridLayout;
    m_conta = new QComboBox(this);
    m_conta->setObjectName(QStringLiteral("Combo_Conta"));
    m_conta->setEditable(true);
    // Sized by its text, not by walking tens of thousands of accounts.
    m_conta->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_conta->setMinimumContentsLength(8);
    m_accounts = new QStringListModel(QStringList{kTodas}, m_conta);
    m_conta->setModel(m_accounts);
    m_conta->setEditText(kTodas);
    m_selecao = new QComboBox(this);
    m_selecao->setObjectName(QStringLiteral("Combo_Selecao"));
    m_selecao->setEditable(true); // a kind typed by the operator is compared as typed
    m_selecao->addItems({"ARMADO", "DESARMADO", "ALARME", "RESTAURAÇÃO", "REGISTRO", "PERIÓDICO",
                         "FALHAS", kTodos});
    m_selecao->setCurrentText(kTodos);
    grid->addWidget(new QLabel(QStringLiteral("Conta")), 0, 0);
    grid->addWidget(m_conta, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Seleção")), 0, 1);
    grid->addWidget(m_selecao, 1, 1);

    m_allDays = new QCheckBox(QStringLiteral("Todos os Dias"), this);
    m_allDays->setObjectName(QStringLiteral("CheckBox1"));
    m_allDays->setChecked(true);
    auto dateEdit = [this](const char *name) {
        auto *d = new QDateEdit(this);
        d->setObjectName(QLatin1String(name));
        d->setCalendarPopup(true);
        d->setDisplayFormat(DateFormats::kDate.toString());
        d->setEnabled(false);
        return d;
    };
    m_inicial = dateEdit("DateTimePicker_Inicial");
    m_final = dateEdit("DateTimePicker_Final");
    connect(m_allDays, &QCheckBox::toggled, this, [this](bool all) {
        m_inicial->setEnabled(!all);
        m_final->setEnabled(!all);
    });
    grid->addWidget(m_allDays, 2, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Data Inicial")), 3, 0);
    grid->addWidget(new QLabel(QStringLiteral("Data Final")), 3, 1);
    grid->addWidget(m_inicial, 4, 0);
    grid->addWidget(m_final, 4, 1);

    m_order = new QGroupBox(QStringLiteral(" Eventos em Ordem: "), this);
    m_order->setObjectName(QStringLiteral("RadioGroup1"));
    m_ascending = new QRadioButton(QStringLiteral("Crescente"), m_order);
    m_ascending->setObjectName(QStringLiteral("ascendingOrder"));
    m_descending = new QRadioButton(QStringLiteral("Decrescente"), m_order);
    m_descending->setObjectName(QStringLiteral("descendingOrder"));
    m_descending->setChecked(true);
    auto *orderLayout = new QVBoxLayout(m_order);
    orderLayout->addWidget(m_ascending);
    orderLayout->addWidget(m_descending);
    grid->addWidget(m_order, 5, 0);
    m_complete = new QCheckBox(QStringLiteral("Relatório Completo"), this);
    m_complete->setObjectName(QStringLiteral("Tipo_Relatorio"));
    grid->addWidget(m_complete, 5, 1);
    buildButtons(grid);
}

// The three buttons, the gauge and the status line below the choices.
void Form_Relatorio_Selecao::buildButtons(QGridLayout *grid) {
    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    m_print = button("Button2", QStringLiteral("Imprimir"));
    m_email = button("Botao_Email", QStringLiteral("Enviar por Email"));
    m_close = button("Button1", QStringLiteral("Fechar"));
    connect(m_print, &QPushButton::clicked, this, &Form_Relatorio_Selecao::Button2Click);
    connect(m_email, &QPushButton::clicked, this, &Form_Relatorio_Selecao::Botao_EmailClick);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_print);
    buttons->addWidget(m_email);
    buttons->addStretch(1);
    buttons->addWidget(m_close);

    m_status = new QStatusBar(this);
    m_status->setObjectName(QStringLiteral("StatusBar1"));
    m_status->setSizeGripEnabled(false);
    m_gauge = new QProgressBar(this);
    m_gauge->setObjectName(QStringLiteral("Barra1"));
    m_gauge->hide();

    auto *v = new QVBoxLayout(this);
    v->addLayout(grid);
    v->addLayout(buttons);
    v->addWidget(m_gauge);
    v->addWidget(m_status);
}

void Form_Relatorio_Selecao::showEvent(QShowEvent *e) {
    const QDate today = m_common.clock.now().date();
    m_inicial->setDate(today);
    m_final->setDate(today);
    rebuildAccounts();
    QDialog::showEvent(e);
}

void Form_Relatorio_Selecao::changeEvent(QEvent *e) {
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) rebuildAccounts();
    QDialog::changeEvent(e);
}

void Form_Relatorio_Selecao::rebuildAccounts() {
    if (m_readingAccounts) {
        m_readAgain = true;
        return;
    }
    m_readingAccounts = true;
    m_accountSource->readAccounts();
}

ReportSelection Form_Relatorio_Selecao::selection() const {
    ReportSelection s;
    s.conta = m_conta->currentText();
    s.tipo = m_selecao->currentText();
    s.allDays = m_allDays->isChecked();
    s.inicial = m_inicial->date();
    s.final = m_final->date();
    s.descending = !m_ascending->isChecked();
    s.complete = m_complete->isChecked();
    return s;
}

QString Form_Relatorio_Selecao::statusText() const {
    return m_status->currentMessage();
}

void Form_Relatorio_Selecao::setBusy(bool busy) {
    for (QWidget *w : std::initializer_list<QWidget *>{m_conta, m_selecao, m_allDays, m_order,
                                                       m_complete, m_print, m_close})
        w->setEnabled(!busy);
    const bool dates = !busy && !m_allDays->isChecked();
    m_inicial->setEnabled(dates);
    m_final->setEnabled(dates);
}

void Form_Relatorio_Selecao::Button2Click() {
    if (m_opening || m_mail->running()) return;
    m_openedSelection = selection();
    m_opening = true;
    setBusy(true);
    m_email->setEnabled(false);
    m_status->showMessage(QStringLiteral("Lendo os eventos do relatório..."));
    m_source->open(BuildReportQuery(m_openedSelection),
                   ReportLayout::of(m_openedSelection.complete));
}

void Form_Relatorio_Selecao::opened(bool ok, const QString &error) {
    if (ok || !m_opening) return; // the first page follows
    m_opening = false;
    setBusy(false);
    m_email->setEnabled(true);
    m_status->clearMessage();
    if (m_common.prompt)
        m_common.prompt->message(error, QStringLiteral("ERRO"), Prompt::Icon::Error);
}

void Form_Relatorio_Selecao::firstPage(int page, const QList<ReportRow> &rows) {
    if (!m_opening || page != 0) return;
    m_opening = false;
    m_status->clearMessage();
    // With one account, the title names the holder as the first selected event recorded it.
    ReportPageInfo info;
    info.title =
        reportTitle(m_openedSelection.conta, rows.isEmpty() ? QString() : rows.first().cliente);
    info.company = m_settings.companyName();
    info.printedAt = m_common.clock.now();
    {
        ReportPreview preview(*m_source, ReportLayout::of(m_openedSelection.complete), info,
                              rows, this);
        m_runPreview(preview);
    }
    setBusy(false);
    m_email->setEnabled(true);
}

void Form_Relatorio_Selecao::Botao_EmailClick() {
    if (m_mailWaitsForAccounts) { // "Cancelar" before the first account
        m_mailWaitsForAccounts = false;
        mailFinished();
        m_status->showMessage(QStringLiteral("Envio cancelado pelo operador."));
        return;
    }
    if (m_mail->running()) { // "Cancelar": the loop stops before the next account
        m_email->setEnabled(false);
        m_mail->cancel();
        return;
    }
    if (m_opening) return;
    const ReportSelection sel = selection();
    setBusy(true);
    m_email->setText(QStringLiteral("Cancelar"));
    if (sel.conta == kTodas && m_readingAccounts) {
        // Every account gets its mail: the loop starts once the list being read is whole.
        m_mailSelection = sel;
        m_mailWaitsForAccounts = true;
        m_status->showMessage(QStringLiteral("Lendo a lista de contas..."));
        return;
    }
    startMail(sel);
}

void Form_Relatorio_Selecao::startMail(const ReportSelection &sel) {
    QStringList accounts = m_accounts->stringList();
    accounts.removeFirst(); // "Todas"
    if (!m_mail->start(sel, accounts)) mailFinished();
}

void Form_Relatorio_Selecao::mailFinished() {
    setBusy(false);
    m_email->setText(QStringLiteral("Enviar por Email"));
    m_email->setEnabled(true);
    m_gauge->hide();
}

void Form_Relatorio_Selecao::closeEvent(QCloseEvent *e) {
    // Mail under way is stopped first ("Cancelar"); the window does not vanish beneath it.
    if (m_mail->running() || m_opening || m_mailWaitsForAccounts) {
        e->ignore();
        if (m_mail->running())
            m_status->showMessage(
                QStringLiteral("Envio em andamento: clique em \"Cancelar\" para interrompê-lo."));
        return;
    }
    QDialog::closeEvent(e);
}

void Form_Relatorio_Selecao::reject() {
    if (m_mail->running() || m_opening || m_mailWaitsForAccounts) return;
    QDialog::reject();
}

} // namespace tulmo
