#include "ui/console/Contas_Disparo.h"

#include "core/common/DateFormats.h"
#include "core/common/Prompt.h"
#include "core/events/EventRecorder.h"
#include "core/events/RunawayRepository.h"
#include "core/events/RunawayWatch.h"
#include "core/store/Database.h"
#include "ui/common/KeyboardHabits.h"
#include "ui/common/ListWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tulmo {

Form_Contas_Disparo::Form_Contas_Disparo(Database &database, EventRecorder &recorder,
                                         Prompt *prompt, QWidget *parent)
    : QDialog(parent)
    , m_database(database)
    , m_recorder(recorder)
    , m_prompt(prompt) {
    setObjectName(QStringLiteral("Form_Contas_Disparo"));
    setWindowTitle(QStringLiteral("Contas em Disparo"));
    resize(680, 320);
    auto *layout = new QVBoxLayout(this);
    const RunawayWatch::Limits l = recorder.runaway().limits();
    auto *rule = new QLabel(
        QStringLiteral("Contas com mais de %1 sinais em %2 min: seus eventos são gravados sem "
                       "alarme nem som até a liberação, ou até %3 min sem sinais.")
            .arg(l.events)
            .arg(l.minutes)
            .arg(RunawayWatch::kQuietMinutes),
        this);
    rule->setWordWrap(true);
    layout->addWidget(rule);
    m_grid = readOnlyGrid("Grid_Disparos",
                          {QStringLiteral("Conta"), QStringLiteral("Cliente"), QStringLiteral("Desde"),
                           QStringLiteral("Último sinal"), QStringLiteral("Sinais")},
                          1, this);
    layout->addWidget(m_grid);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Lbl_Disparos"));
    layout->addWidget(m_summary);
    const QList<QPushButton *> buttons = buttonRow(
        layout, this, {{"btnLiberar", QStringLiteral("&Liberar")}, {"btnFechar", QStringLiteral("&Fechar")}});
    m_release = buttons[0];
    QPushButton *close = buttons[1];
    connect(m_release, &QPushButton::clicked, this, &Form_Contas_Disparo::releaseSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(&recorder, &EventRecorder::runawayChanged, this, [this] {
        if (isVisible()) refresh();
    });
    connect(m_grid, &QTableWidget::itemSelectionChanged, this,
            [this] { m_release->setEnabled(!m_grid->selectedItems().isEmpty()); });
    m_release->setEnabled(false);
    applyKeyboardHabits(this);
}

void Form_Contas_Disparo::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    refresh();
}

void Form_Contas_Disparo::refresh() {
    const QString selected =
        m_grid->currentRow() >= 0 && m_grid->item(m_grid->currentRow(), 0)
            ? m_grid->item(m_grid->currentRow(), 0)->text()
            : QString();
    bool ok = false;
    const QList<RunawayRepository::Row> rows = RunawayRepository::list(m_database.primary(), &ok);
    if (!ok) {
        m_summary->setText(QStringLiteral("Não foi possível ler as contas em disparo."));
        return;
    }
    m_grid->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const RunawayRepository::Row &d = rows[r];
        const QString cells[] = {d.conta,
                                 d.cliente.isEmpty() ? QStringLiteral("Não Cadastrado") : d.cliente,
                                 d.desde.toString(DateFormats::kDateTime),
                                 d.ultimo.toString(DateFormats::kDateTime), QString::number(d.sinais)};
        for (int c = 0; c < 5; ++c)
            m_grid->setItem(r, c, new QTableWidgetItem(cells[c]));
        if (d.conta == selected) m_grid->selectRow(r);
    }
    m_summary->setText(rows.isEmpty() ? QStringLiteral("Nenhuma conta em disparo.")
                                      : QStringLiteral("%1 conta(s) em disparo.").arg(rows.size()));
    m_release->setEnabled(!m_grid->selectedItems().isEmpty());
}

bool Form_Contas_Disparo::releaseSelected() {
    const int r = m_grid->currentRow();
    if (r < 0 || !m_grid->item(r, 0)) return false;
    const QString conta = m_grid->item(r, 0)->text();
    QString error;
    if (!m_recorder.clearRunaway(conta, &error)) {
        if (m_prompt) m_prompt->message(error, QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    refresh();
    return true;
}

} // namespace tulmo
