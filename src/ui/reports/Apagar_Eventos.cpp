#include "Apagar_Eventos.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/reports/EventPurger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QVBoxLayout>

namespace tulmo {

namespace {

QDateEdit *dateEdit(const char *nome) {
    auto *d = new QDateEdit;
    d->setObjectName(QLatin1String(nome));
    d->setCalendarPopup(true);
    d->setDisplayFormat(DateFormats::kDate.toString());
    return d;
}

QLabel *label(const QString &text, QWidget *buddy) {
    auto *l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

} // namespace

Form_Apagar_eventos::Form_Apagar_eventos(CommonServices common, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_purger(new EventPurger(common.database, this))
    , m_accounts(new QStringListModel(this)) {
    setObjectName(QStringLiteral("Form_Apagar_eventos"));
    setWindowTitle(QStringLiteral("Apagar eventos recebidos"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);

    m_account = new QComboBox;
    m_account->setObjectName(QStringLiteral("Lista_Clientes"));
    m_account->setEditable(true);
    m_account->setInsertPolicy(QComboBox::NoInsert);
    // Tens of thousands of accounts: the box is sized by a fixed width, not by measuring
    // every item, and the list lays its rows out as equal.
    m_account->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_account->setMinimumContentsLength(12);
    m_account->setModel(m_accounts);
    if (auto *view = qobject_cast<QListView *>(m_account->view())) view->setUniformItemSizes(true);
    m_kind = new QComboBox;
    m_kind->setObjectName(QStringLiteral("Tipos_evento"));
    m_kind->addItems({QStringLiteral("Todos"), QStringLiteral("ARMADO"), QStringLiteral("DESARMADO"),
                      QStringLiteral("ALARME"), QStringLiteral("RESTAURAÇÃO"),
                      QStringLiteral("REGISTRO"), QStringLiteral("PERIÓDICO"),
                      QStringLiteral("FALHAS")});
    m_from = dateEdit("Data_inicial");
    m_to = dateEdit("Data_final");

    auto *group = new QGroupBox(QStringLiteral("Número Partição "));
    group->setObjectName(QStringLiteral("partitionGroup"));
    m_allPartitions = new QCheckBox(QStringLiteral("Todas"));
    m_allPartitions->setObjectName(QStringLiteral("Check_Particao"));
    m_partition = new QSpinBox;
    m_partition->setObjectName(QStringLiteral("Spin_Particao"));
    m_partition->setRange(0, 99);
    connect(m_allPartitions, &QCheckBox::toggled, m_partition, &QWidget::setDisabled);
    auto *g = new QHBoxLayout(group);
    g->addWidget(m_partition);
    g->addWidget(m_allPartitions);
    g->addStretch(1);

    m_delete = new QPushButton(QStringLiteral("Apagar"));
    m_delete->setObjectName(QStringLiteral("Button1"));
    m_delete->setAutoDefault(false);
    connect(m_delete, &QPushButton::clicked, this, &Form_Apagar_eventos::Button1Click);
    auto *close = new QPushButton(QStringLiteral("Fechar"));
    close->setObjectName(QStringLiteral("Button2"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("statusLabel"));

    auto *form = new QGridLayout;
    form->addWidget(label(QStringLiteral("Conta:"), m_account), 0, 0);
    form->addWidget(m_account, 1, 0);
    form->addWidget(label(QStringLiteral("Tipo de evento"), m_kind), 0, 1);
    form->addWidget(m_kind, 1, 1);
    form->addWidget(label(QStringLiteral("Data inicial"), m_from), 2, 0);
    form->addWidget(m_from, 3, 0);
    form->addWidget(label(QStringLiteral("Data final"), m_to), 2, 1);
    form->addWidget(m_to, 3, 1);
    form->addWidget(group, 4, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_delete);
    buttons->addWidget(close);
    auto *l = new QVBoxLayout(this);
    l->addLayout(form);
    l->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_purger, &EventPurger::surveyed, this, &Form_Apagar_eventos::surveyFinished);
    connect(m_purger, &EventPurger::finished, this, &Form_Apagar_eventos::purgeFinished);
    applyKeyboardHabits(this);
}

Form_Apagar_eventos::~Form_Apagar_eventos() = default;

void Form_Apagar_eventos::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    FormActivate();
}

void Form_Apagar_eventos::FormActivate() {
    QString error;
    const QStringList contas =
        EventPurgeRepository::accounts(m_common.database.secondary(), &error);
    m_accounts->setStringList(QStringList{EventPurgeRepository::kTodas} + contas);
    // No account shown until the operator picks one: "Apagar" right away deletes nothing.
    m_account->setCurrentIndex(-1);
    m_account->clearEditText();
    const QDate today = m_common.clock.now().date();
    m_from->setDate(today);
    m_to->setDate(today);
    // What the last purge did belongs to its own choices, not to these.
    m_status->clear();
    setWorking(m_purger->isRunning());
    if (!error.isEmpty() && m_common.prompt)
        m_common.prompt->message(QStringLiteral("Houve um erro ao ler a lista de contas.\n\n") + error,
                                 QStringLiteral("ERRO"), Prompt::Icon::Error);
}

PurgeFilter Form_Apagar_eventos::filter() const {
    PurgeFilter f;
    f.dataInicial = m_from->date();
    f.dataFinal = m_to->date();
    f.conta = m_account->currentText();
    f.tipo = m_kind->currentText();
    f.todasParticoes = m_allPartitions->isChecked();
    f.particao = m_partition->value();
    return f;
}

void Form_Apagar_eventos::Button1Click() {
    const PurgeFilter f = filter();
    if (!m_purger->survey(f)) return; // one purge at a time
    m_surveyed = f;
    setWorking(true);
}

void Form_Apagar_eventos::surveyFinished(bool ok, const PurgeSurvey &survey, const QString &error) {
    if (!ok) return purgeFinished(false, 0, error);
    if (survey.total == 0) return purgeFinished(true, 0, QString());
    // Alarms nobody treated go only when the operator says so; without anyone to ask, none go.
    const QString question = EventPurgeRepository::pendingQuestion(survey);
    Prompt *prompt = m_common.prompt;
    if (!question.isEmpty() &&
        !(prompt && prompt->question(question, QStringLiteral("Apagar eventos recebidos"),
                                     Prompt::Icon::Warning, false))) {
        setWorking(false);
        m_status->setText(QStringLiteral("Nenhum evento foi apagado."));
        return;
    }
    PurgeFilter f = m_surveyed;
    f.upToSequencia = survey.lastSequencia;
    if (!m_purger->start(f)) setWorking(false);
}

void Form_Apagar_eventos::setWorking(bool working) {
    // The choices stay as they were sent until the purge ends.
    for (QWidget *w : {static_cast<QWidget *>(m_account), static_cast<QWidget *>(m_kind),
                       static_cast<QWidget *>(m_from), static_cast<QWidget *>(m_to),
                       static_cast<QWidget *>(m_allPartitions), static_cast<QWidget *>(m_delete)})
        w->setEnabled(!working);
    m_partition->setEnabled(!working && !m_allPartitions->isChecked());
    if (working) {
        m_status->setText(QStringLiteral("Apagando eventos, aguarde..."));
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void Form_Apagar_eventos::purgeFinished(bool ok, int deleted, const QString &error) {
    setWorking(false);
    if (ok) {
        m_status->setText(QStringLiteral("Eventos apagados: %1").arg(deleted));
        emit eventsDeleted();
        return;
    }
    m_status->setText(QStringLiteral("Nenhum evento foi apagado."));
    if (m_common.prompt)
        m_common.prompt->message(
            QStringLiteral("Houve um erro ao apagar os eventos. Nenhum evento foi apagado.\n\n") + error,
            QStringLiteral("ERRO"), Prompt::Icon::Error);
}

} // namespace tulmo
