#include "ui/reports/Tempo_Atendimento.h"

#include "core/common/Clock.h"
#include "core/common/FileChooser.h"
#include "core/common/Prompt.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"
#include "ui/common/FileDialogChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "ui/common/ListWindow.h"
#include "ui/reports/ReportOutput.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tulmo {

namespace {
const QString kTitle = QStringLiteral("Tempo de atendimento");

QTableWidget *grid(const char *name, const QString &first, QWidget *parent) {
    return readOnlyGrid(name,
                        {first, QStringLiteral("Atendidos"), QStringLiteral("p50"),
                         QStringLiteral("p90"), QStringLiteral("Máximo")},
                        0, parent);
}
} // namespace

Form_Tempo_Atendimento::Form_Tempo_Atendimento(CommonServices common, const LiveSettings &settings,
                                               QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_settings(settings)
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    m_chooser = m_defaultChooser.get();
    setObjectName(QStringLiteral("Form_Tempo_Atendimento"));
    setWindowTitle(kTitle);
    setWindowModality(Qt::WindowModal);
    resize(640, 520);

    auto *layout = new QVBoxLayout(this);
    auto *period = new QGroupBox(QStringLiteral("Período (recebimento do evento)"), this);
    auto *pl = new QHBoxLayout(period);
    const QDate today = m_common.clock.now().date();
    m_from = dateField("DataInicial", today.addDays(-30), period);
    m_to = dateField("DataFinal", today, period);
    auto *calc = new QPushButton(QStringLiteral("&Calcular"), period);
    calc->setObjectName(QStringLiteral("btnCalcular"));
    pl->addWidget(new QLabel(QStringLiteral("De"), period));
    pl->addWidget(m_from);
    pl->addWidget(new QLabel(QStringLiteral("até"), period));
    pl->addWidget(m_to);
    pl->addWidget(calc);
    pl->addStretch();
    layout->addWidget(period);

    layout->addWidget(new QLabel(QStringLiteral("Por operador"), this));
    m_operators = grid("Grid_Operadores", QStringLiteral("Operador"), this);
    layout->addWidget(m_operators);
    layout->addWidget(new QLabel(QStringLiteral("Por tipo de evento"), this));
    m_types = grid("Grid_Tipos", QStringLiteral("Tipo"), this);
    layout->addWidget(m_types);
    m_total = new QLabel(this);
    m_total->setObjectName(QStringLiteral("Lbl_Total"));
    layout->addWidget(m_total);

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

    connect(calc, &QPushButton::clicked, this, &Form_Tempo_Atendimento::calculate);
    connect(m_print, &QPushButton::clicked, this, &Form_Tempo_Atendimento::print);
    connect(m_export, &QPushButton::clicked, this, &Form_Tempo_Atendimento::exportFile);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    applyKeyboardHabits(this);
}

Form_Tempo_Atendimento::~Form_Tempo_Atendimento() = default;

void Form_Tempo_Atendimento::tell(const QString &text) {
    if (m_common.prompt) m_common.prompt->message(text, kTitle, Prompt::Icon::Warning);
}

bool Form_Tempo_Atendimento::calculate() {
    const QDate from = m_from->date(), to = m_to->date();
    if (from > to) {
        tell(QStringLiteral("A data inicial é posterior à data final."));
        return false;
    }
    QString error;
    std::optional<AnswerTimes> times =
        AnswerTimes::read(m_common.database.primary(), from, to, &error);
    if (!times) {
        tell(error);
        return false;
    }
    m_times = std::move(times);
    m_timesFrom = from;
    m_timesTo = to;
    fill(m_operators, m_times->byOperator);
    fill(m_types, m_times->byType);
    const AnswerTimeGroup &all = m_times->overall;
    m_total->setText(all.count == 0
                         ? QStringLiteral("Nenhum evento tratado por operador no período.")
                         : QStringLiteral("Total: %1 atendimentos; p50 %2, p90 %3, máximo %4.")
                               .arg(all.count)
                               .arg(AnswerTimes::duration(all.p50Ms),
                                    AnswerTimes::duration(all.p90Ms),
                                    AnswerTimes::duration(all.maxMs)));
    m_print->setEnabled(all.count > 0);
    m_export->setEnabled(all.count > 0);
    return true;
}

void Form_Tempo_Atendimento::fill(QTableWidget *g, const QList<AnswerTimeGroup> &groups) {
    g->setRowCount(int(groups.size()));
    for (int r = 0; r < groups.size(); ++r) {
        const AnswerTimeGroup &a = groups[r];
        const QString cells[] = {a.name, QString::number(a.count), AnswerTimes::duration(a.p50Ms),
                                 AnswerTimes::duration(a.p90Ms), AnswerTimes::duration(a.maxMs)};
        for (int c = 0; c < 5; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            g->setItem(r, c, item);
        }
    }
}

void Form_Tempo_Atendimento::printTo(QPrinter *printer) {
    if (m_times)
        reportOutput::printHtml(printer, m_times->html(m_timesFrom, m_timesTo, m_settings.companyName()));
}

void Form_Tempo_Atendimento::print() {
    if (m_times)
        reportOutput::printHtml(this, kTitle,
                                m_times->html(m_timesFrom, m_timesTo, m_settings.companyName()));
}

bool Form_Tempo_Atendimento::exportTo(const QString &path) {
    return m_times &&
           reportOutput::saveCsv(path, m_times->csv(m_timesFrom, m_timesTo), m_common.prompt);
}

void Form_Tempo_Atendimento::exportFile() {
    if (!m_times) return;
    const QString path = reportOutput::chooseCsvPath(
        m_chooser, m_common.prompt,
        QStringLiteral("Tempo_Atendimento_%1.csv").arg(m_timesTo.toString(QStringLiteral("yyyyMMdd"))));
    if (!path.isEmpty()) exportTo(path);
}

} // namespace tulmo
