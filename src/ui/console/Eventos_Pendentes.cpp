#include "Eventos_Pendentes.h"

#include "Principal.h"
#include "core/store/SqlListModel.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/common/TextCodec.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/events/EventRecorder.h"
#include "core/events/InterventionKinds.h"
#include "core/common/DateFormats.h"
#include "core/events/AccountRepository.h"
#include "core/events/EventRepository.h"
#include "core/events/EventTypes.h"
#include "core/events/InterventionKinds.h"
#include "core/settings/LiveSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlError>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>

namespace tulmo {

const QStringList Form_Eventos_Pendentes::kDefaultInterventionKinds = InterventionKinds::defaults();

namespace {

const QColor kHintBackground(0xFF, 0xFF, 0xE1); // info background
// How long after coming forward a hand-over of the keyboard to this window is the platform's
// doing rather than the operator's.
constexpr int kKeyboardGraceMs = 1000;

// The pending list shows its dates in the one form of every list, and after its columns how
// long each event has waited, its whole row coloured once that passes the warning age and
// again past the critical one.
class PendingList : public SqlListModel {
public:
    PendingList(const Clock &clock, QString sql, QList<Column> columns, int rowLimit,
                QObject *parent)
        : SqlListModel(std::move(sql), std::move(columns), rowLimit, parent)
        , m_clock(clock) {}
    void setSettings(const LiveSettings *settings) { m_settings = settings; }
    int waitColumn() const { return int(columns().size()); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : waitColumn() + 1;
    }
    qint64 waitedSeconds(int row) const {
        const QDateTime t = value(row, QStringLiteral("DATA")).toDateTime();
        return t.isValid() ? std::max<qint64>(0, t.secsTo(m_clock.now())) : 0;
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if (!index.isValid()) return {};
        if (role == Qt::BackgroundRole) {
            const qint64 waited = waitedSeconds(index.row());
            const int warn = m_settings ? m_settings->pendingWarnSeconds() : 60;
            const int critical = m_settings ? m_settings->pendingCriticalSeconds() : 90;
            if (waited >= critical) return QColor(kCritical);
            if (waited >= warn) return QColor(kWarning);
            return {};
        }
        if (index.column() == waitColumn()) {
            if (role != Qt::DisplayRole) return {};
            const qint64 w = waitedSeconds(index.row());
            return w >= 3600 ? QStringLiteral("%1:%2:%3")
                                   .arg(w / 3600)
                                   .arg(w / 60 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(w % 60, 2, 10, QLatin1Char('0'))
                             : QStringLiteral("%1:%2").arg(w / 60, 2, 10, QLatin1Char('0'))
                                   .arg(w % 60, 2, 10, QLatin1Char('0'));
        }
        if (role == Qt::DisplayRole && index.column() == columnOf(QStringLiteral("DATA"))) {
            const QDateTime t = value(index.row(), QStringLiteral("DATA")).toDateTime();
            return t.isValid() ? t.toString(DateFormats::kDateTime) : QString();
        }
        return SqlListModel::data(index, role);
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o == Qt::Horizontal && section == waitColumn())
            return role == Qt::DisplayRole ? QVariant(QStringLiteral("ESPERA")) : QVariant();
        return SqlListModel::headerData(section, o, role);
    }
    // The waited times move on: the column and the colours are painted again.
    void ageTick() {
        if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, waitColumn()));
    }

    static constexpr QRgb kWarning = 0xFFE680;  // amber
    static constexpr QRgb kCritical = 0xFF8C8C; // red

private:
    const Clock &m_clock;
    const LiveSettings *m_settings = nullptr;
};

QLineEdit *field(const char *nome) {
    auto *e = new QLineEdit;
    e->setObjectName(QLatin1String(nome));
    e->setReadOnly(true);
    return e;
}

} // namespace

QStringList Form_Eventos_Pendentes::readInterventionKinds(const QString &fileName) {
    return InterventionKinds::read(fileName);
}

QColor Form_Eventos_Pendentes::typeColor(const QString &tipo) {
    return QColor(QRgb(EventTypes::pendingColors(tipo).background.value_or(0xFFFFFF)));
}

QString Form_Eventos_Pendentes::priorityText(const QVariant &prioridade) {
    bool ok = false;
    const int p = prioridade.toInt(&ok);
    if (!ok || prioridade.isNull()) return QStringLiteral("NENHUMA");
    switch (p) {
    case 1:
        return QStringLiteral("BAIXA");
    case 2:
        return QStringLiteral("NORMAL");
    case 3:
        return QStringLiteral("MÉDIA");
    case 4:
        return QStringLiteral("ALTA");
    case 5:
        return QStringLiteral("MÁXIMA");
    default:
        return QStringLiteral("NENHUMA");
    }
}

QString Form_Eventos_Pendentes::phoneMask(const QString &telefone) {
    QString d;
    for (QChar c : telefone)
        if (c.isDigit()) d.append(c);
    if (d.isEmpty()) return {};
    if (d.size() <= 10) {
        d = d.leftJustified(10, QLatin1Char(' '));
        return QStringLiteral("(%1) %2-%3").arg(d.left(2), d.mid(2, 4), d.mid(6, 4));
    }
    // Nine-digit mobiles do not fit the mask; no digit is dropped.
    return QStringLiteral("(%1) %2-%3").arg(d.left(2), d.mid(2, d.size() - 6), d.right(4));
}

Form_Eventos_Pendentes::Form_Eventos_Pendentes(CommonServices common, InterventionKinds &kinds, EventRecorder &recorder, Form_Principal &mainWindow,
                                               QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_kinds(kinds)
    , m_recorder(recorder)
    , m_mainWindow(mainWindow) {
    setObjectName(QStringLiteral("Form_Eventos_Pendentes"));
    setWindowTitle(QStringLiteral("Eventos Pendentes"));
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    // Showing itself never takes the keyboard; the operator's commands activate it.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_dataset = new PendingList(m_common.clock, EventRepository::pendingListSql(),
                                   {{"CODIGO_ALARME", QStringLiteral("CODIGO")},
                                    {"ARGUMENTO", {}},
                                    {"NUMERO_PARTICAO", QStringLiteral("PARTIÇÃO")},
                                    {"DESCRICAO", QStringLiteral("DESCRIÇÃO")},
                                    {"DATA", {}}},
                                   EventRepository::kListRows, this);
    m_dataset->setObjectName(QStringLiteral("DataSet_Eventos_Pendentes"));

    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("Grid_Pendentes"));
    m_grid->setModel(m_dataset);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->setColumnWidth(3, 220);
    m_grid->setColumnWidth(4, 120);
    m_grid->setColumnWidth(5, 70);
    m_ageTimer.setInterval(1000);
    connect(&m_ageTimer, &QTimer::timeout, this,
            [this] { static_cast<PendingList *>(m_dataset)->ageTick(); });
    QPalette pal = m_grid->palette();
    pal.setColor(QPalette::Base, kHintBackground);
    m_grid->setPalette(pal);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!m_reopening) Atualizar();
    });
    connect(m_grid, &QAbstractItemView::clicked, this, &Form_Eventos_Pendentes::Atualizar);
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);

    auto *conta = new QGroupBox(QStringLiteral(" Dados da Conta "));
    conta->setObjectName(QStringLiteral("GroupBox1"));
    auto *fc = new QGridLayout(conta);
    m_account = field("Conta_Cliente");
    m_name = field("Nome_Cliente");
    m_phone1 = field("ME_Telefone1");
    m_phone2 = field("ME_Telefone2");
    m_phone3 = field("ME_Telefone3");
    m_animals = field("Animais");
    m_password = field("Senha");
    m_remarks = new QPlainTextEdit;
    m_remarks->setObjectName(QStringLiteral("Observacoes"));
    m_remarks->setReadOnly(true);
    m_remarks->setMaximumHeight(70);
    fc->addWidget(new QLabel(QStringLiteral("Conta:")), 0, 0);
    fc->addWidget(m_account, 0, 1);
    fc->addWidget(new QLabel(QStringLiteral("Nome:")), 0, 2);
    fc->addWidget(m_name, 0, 3, 1, 3);
    fc->addWidget(new QLabel(QStringLiteral("Telefone Res.:")), 1, 0);
    fc->addWidget(m_phone1, 1, 1);
    fc->addWidget(new QLabel(QStringLiteral("Telefone Com.:")), 1, 2);
    fc->addWidget(m_phone2, 1, 3);
    fc->addWidget(new QLabel(QStringLiteral("Celuluar:")), 1, 4);
    fc->addWidget(m_phone3, 1, 5);
    fc->addWidget(new QLabel(QStringLiteral("Animais:")), 2, 0);
    fc->addWidget(m_animals, 2, 1);
    fc->addWidget(new QLabel(QStringLiteral("Senha:")), 2, 2);
    fc->addWidget(m_password, 2, 3);
    fc->addWidget(new QLabel(QStringLiteral("Observações")), 3, 0);
    fc->addWidget(m_remarks, 3, 1, 1, 5);

    auto *detalhes = new QGroupBox(QStringLiteral(" Detalhes "));
    detalhes->setObjectName(QStringLiteral("GroupBox2"));
    auto *fd = new QGridLayout(detalhes);
    m_event = new QLabel;
    m_event->setObjectName(QStringLiteral("ST_Evento"));
    m_event->setAlignment(Qt::AlignCenter);
    m_event->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_event->setAutoFillBackground(true);
    m_event->setMinimumHeight(28);
    QFont bold = m_event->font();
    bold.setBold(true);
    m_event->setFont(bold);
    m_priority = new QLabel;
    m_priority->setObjectName(QStringLiteral("ST_Prioridade"));
    m_priority->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_intervention = new QComboBox;
    m_intervention->setObjectName(QStringLiteral("CB_Intervencao"));
    m_intervention->setEditable(true);
    m_intervention->setInsertPolicy(QComboBox::NoInsert);
    m_intervention->lineEdit()->setMaxLength(EventRepository::kInterventionWidth);
    m_details = new QLineEdit;
    m_details->setObjectName(QStringLiteral("E_Detalhes"));
    m_details->setMaxLength(EventRepository::kDetailsWidth);
    auto *button = new QPushButton(QStringLiteral("Finalizar Intervenção"));
    button->setObjectName(QStringLiteral("Button1"));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, &Form_Eventos_Pendentes::Button1Click);
    fd->addWidget(m_event, 0, 0, 1, 4);
    fd->addWidget(new QLabel(QStringLiteral("Prioridade")), 1, 0);
    fd->addWidget(m_priority, 1, 1);
    fd->addWidget(new QLabel(QStringLiteral("Intervenção:")), 1, 2);
    fd->addWidget(m_intervention, 1, 3);
    fd->addWidget(new QLabel(QStringLiteral("Detalhes do Atendimento:")), 2, 0);
    fd->addWidget(m_details, 2, 1, 1, 3);
    fd->addWidget(button, 3, 3, Qt::AlignRight);

    auto *l = new QVBoxLayout(this);
    l->addWidget(m_grid, 1);
    l->addWidget(conta);
    l->addWidget(detalhes);
    setFixedSize(720, 560);

    loadInterventionKinds();
    connect(&m_recorder, &EventRecorder::pendingRecorded, this,
            &Form_Eventos_Pendentes::pendingEvent);
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            &Form_Eventos_Pendentes::focusWindowChanged);
    applyKeyboardHabits(this);
}

void Form_Eventos_Pendentes::loadInterventionKinds() {
    // int.txt is read again only when it has changed; a file that cannot be read is told once.
    InterventionKinds &kinds = m_kinds;
    if (!kinds.refresh()) return;
    if (!kinds.problem().isEmpty() && m_common.prompt)
        m_common.prompt->alert(kinds.problem() +
                                   QStringLiteral("\n\nA lista padrão de intervenções será usada."),
                               QStringLiteral("Eventos Pendentes"), Prompt::Icon::Warning);
    const QStringList &types = kinds.kinds();
    // The kind the operator chose stays chosen while the list still has it: the window is
    // activated again after every message, and the kind must not change under his hands.
    const int kept = std::max(0, int(types.indexOf(m_intervention->currentText())));
    m_intervention->clear();
    m_intervention->addItems(types);
    m_intervention->setCurrentIndex(kept);
    m_intervention->setEditText(types.at(kept));
}

bool Form_Eventos_Pendentes::event(QEvent *e) {
    if (e->type() == QEvent::WindowActivate) loadInterventionKinds();
    return QDialog::event(e);
}

void Form_Eventos_Pendentes::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    loadInterventionKinds();
    Buscar_Atualizacoes();
    m_ageTimer.start();
}

void Form_Eventos_Pendentes::hideEvent(QHideEvent *e) {
    m_ageTimer.stop();
    QDialog::hideEvent(e);
}

void Form_Eventos_Pendentes::setSettings(const LiveSettings *settings) {
    static_cast<PendingList *>(m_dataset)->setSettings(settings);
}

bool Form_Eventos_Pendentes::eventFilter(QObject *o, QEvent *e) {
    if ((o == m_grid && e->type() == QEvent::KeyRelease) ||
        (o == m_grid->viewport() && e->type() == QEvent::MouseButtonRelease))
        Atualizar();
    if (o == windowHandle()) {
        // The operator reaching for this window wants the keyboard here.
        if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress)
            m_typingIn = nullptr;
        // A window manager places a window that did not take the keyboard where it likes,
        // often under the one that has it: on top once it is really on the screen.
        if (e->type() == QEvent::Expose && m_raiseWhenExposed && windowHandle()->isExposed()) {
            m_raiseWhenExposed = false;
            raise();
        }
    }
    return QDialog::eventFilter(o, e);
}

void Form_Eventos_Pendentes::pendingEvent() {
    const bool wasVisible = isVisible();
    comeForward(); // showing refreshes the list
    if (wasVisible) Buscar_Atualizacoes();
    // Raised, it offers the most urgent alarm, unless the operator is writing the details of
    // the one he chose.
    if (!wasVisible || m_details->text().isEmpty()) {
        selectRow(0);
        Atualizar();
    }
}

void Form_Eventos_Pendentes::comeForward() {
    QWidget *typingIn = QApplication::activeWindow();
    m_typingIn = typingIn == this ? nullptr : typingIn;
    m_cameForward.start();
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) {
        m_raiseWhenExposed = true;
        show();
    }
    raise();
    if (!m_watchingInput && windowHandle()) {
        windowHandle()->installEventFilter(this);
        m_watchingInput = true;
    }
}

// Some platforms give the keyboard to every window shown or raised, whatever it asked (the
// offscreen one, window managers without focus-stealing prevention): the keyboard goes back
// to the window the operator was typing in, so that a password does not end up here.
void Form_Eventos_Pendentes::focusWindowChanged(QWindow *now) {
    if (!m_typingIn || !now || now != windowHandle()) return;
    const QPointer<QWidget> back = std::exchange(m_typingIn, nullptr);
    if (m_cameForward.elapsed() > kKeyboardGraceMs || !isVisible() || !back->isVisible()) return;
    // A modal dialog opened since then has the keyboard by right, and the window under it
    // must not get it back.
    const QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != back) return;
    back->activateWindow();
}

void Form_Eventos_Pendentes::eventsRemoved() {
    if (!isVisible()) return;
    if (Buscar_Atualizacoes() && m_dataset->rowCount() == 0) {
        m_mainWindow.setPendingCommandEnabled(false);
        close();
    }
}

int Form_Eventos_Pendentes::currentRow() const {
    const int r = m_grid->currentIndex().row();
    return r >= 0 && r < m_dataset->rowCount() ? r : -1;
}

void Form_Eventos_Pendentes::selectRow(int row) {
    if (row < 0 || row >= m_dataset->rowCount()) return;
    m_grid->setCurrentIndex(m_dataset->index(row, 0));
    m_grid->selectRow(row);
}

QVariant Form_Eventos_Pendentes::currentSequence() const {
    const int r = currentRow();
    return r < 0 ? QVariant() : m_dataset->value(r, QStringLiteral("SEQUENCIA"));
}

bool Form_Eventos_Pendentes::reopenList() {
    QSqlDatabase db = m_common.database.primary();
    // A statement on a closed connection fails without an error of its own.
    if (!db.isOpen()) {
        m_dataset->clear();
        return false;
    }
    m_dataset->reopen(db);
    if (m_dataset->lastError().isValid()) return false;
    while (m_dataset->canFetchMore())
        m_dataset->fetchMore();
    // What the operator has now seen, for the answer times: only a window on the screen shows.
    if (isVisible()) {
        QList<qint64> unseen;
        for (int r = 0; r < m_dataset->rowCount(); ++r)
            if (m_dataset->value(r, QStringLiteral("EXIBIDO")).isNull())
                unseen << m_dataset->value(r, QStringLiteral("SEQUENCIA")).toLongLong();
        EventRepository::markShown(db, unseen, m_common.clock.now());
    }
    return true;
}

bool Form_Eventos_Pendentes::Buscar_Atualizacoes() {
    const QVariant box = currentSequence();
    m_reopening = true;
    const bool ok = reopenList();
    int row = m_dataset->rowCount() > 0 ? 0 : -1;
    // Back to the row the operator was on, while it is still pending.
    if (!box.isNull())
        for (int r = 0; r < m_dataset->rowCount(); ++r)
            if (m_dataset->value(r, QStringLiteral("SEQUENCIA")).toLongLong() ==
                box.toLongLong()) {
                row = r;
                break;
            }
    selectRow(row);
    m_reopening = false;
    if (!ok) {
        if (Prompt *p = m_common.prompt)
            p->message(QStringLiteral("Houve um erro ao tentar atualizar os dados do evento."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    Atualizar();
    return true;
}

void Form_Eventos_Pendentes::clearDetails() {
    for (QLineEdit *e : {m_account, m_name, m_phone1, m_phone2, m_phone3, m_animals, m_password})
        e->clear();
    m_remarks->clear();
    m_event->clear();
    QPalette p = m_event->palette();
    p.setColor(QPalette::Window, Qt::white);
    m_event->setPalette(p);
    m_priority->clear();
}

void Form_Eventos_Pendentes::Atualizar() {
    const QVariant seq = currentSequence();
    clearDetails();
    // The description being typed belongs to the event shown; it goes when another is.
    if (seq.isNull() || m_shownSequence.isNull() ||
        seq.toLongLong() != m_shownSequence.toLongLong())
        m_details->clear();
    m_shownSequence = seq;
    const int r = currentRow();
    if (r < 0) return;

    if (const std::optional<Account> a = AccountRepository::find(
            m_common.database.primary(), m_dataset->value(r, QStringLiteral("CONTA")))) {
        m_account->setText(a->conta);
        m_name->setText(a->nome);
        m_phone1->setText(phoneMask(a->telefone1));
        m_phone2->setText(phoneMask(a->telefone2));
        m_phone3->setText(phoneMask(a->celular));
        m_animals->setText(a->animais);
        m_password->setText(a->senha);
        m_remarks->setPlainText(a->obs);
    }

    m_event->setText(m_dataset->value(r, QStringLiteral("DESCRICAO")).toString().toUpper());
    QPalette p = m_event->palette();
    p.setColor(QPalette::Window, typeColor(m_dataset->value(r, QStringLiteral("TIPO")).toString()));
    m_event->setPalette(p);
    m_priority->setText(priorityText(m_dataset->value(r, QStringLiteral("PRIORIDADE"))));
}

bool Form_Eventos_Pendentes::reopenAfterIntervention() {
    // The treated event shows among the received ones at once, and leaves the count.
    m_mainWindow.reopenReceived();
    m_mainWindow.updatePendingCount();
    m_reopening = true;
    const bool ok = reopenList();
    selectRow(0);
    m_reopening = false;
    Atualizar();
    return ok;
}

void Form_Eventos_Pendentes::Button1Click() {
    Prompt *prompt = m_common.prompt;
    if (m_details->text().trimmed().isEmpty()) {
        if (prompt)
            prompt->message(QStringLiteral("Voce precisa escrever os detalhes da intervenção!"));
        return;
    }
    using EventRepository::Intervention;
    const QVariant seq = currentSequence();
    Intervention result = Intervention::NotPending;
    EventRepository::TreatedBy by;
    if (!seq.isNull())
        result = EventRepository::finishIntervention(
            m_common.database.primary(), seq, m_details->text(), m_intervention->currentText(),
            m_common.clock.now(), m_mainWindow.operatorName(), &by);
    bool ok = result != Intervention::Failed && reopenAfterIntervention();
    // The event went while the operator was on it (its account deleted, a purge, another
    // operator, perhaps at another workstation): he is told, over the list as it now is.
    if (ok && result == Intervention::NotPending && prompt)
        prompt->message(
            by.operador.isEmpty()
                ? QStringLiteral("Este evento não está mais pendente: foi excluído ou já "
                                 "foi tratado. A lista de eventos pendentes foi "
                                 "atualizada.")
                : QStringLiteral("Este evento já foi tratado por %1 às %2.")
                      .arg(by.operador, by.quando.toString(QStringLiteral("HH:mm:ss"))),
            QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
    if (ok && m_dataset->rowCount() == 0) {
        m_mainWindow.setPendingCommandEnabled(false);
        close();
    }
    if (!ok && prompt)
        prompt->message(QStringLiteral("Houve um erro ao tentar alterar o evento."),
                        QStringLiteral("ATENÇÃO"), Prompt::Icon::Error);
    m_details->clear();
}

} // namespace tulmo
