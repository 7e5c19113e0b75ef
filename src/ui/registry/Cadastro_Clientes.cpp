#include "Cadastro_Clientes.h"

#include "ui/common/FileDialogChooser.h"
#include "DigitsOnly.h"
#include "ScheduleGrid.h"
#include "SubRecordGrid.h"
#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/common/FileChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Paths.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/registry/SubRecordModel.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSet>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tulmo {

namespace {

QString digitsOf(const QString &text) {
    QString d;
    for (QChar c : text)
        if (c.isDigit()) d += c;
    return d;
}

QString textOrEmpty(const QString &t) {
    return t.isNull() ? QStringLiteral("") : t;
}

// OBS is VARCHAR(400) since the upgrade of the main window.
constexpr int kObsWidth = 400;

const char *const kPageNames[] = {"TS_Basico", "TS_Imagens",   "TS_Usuarios",
                                  "TS_Zonas",  "TS_Particoes", "TS_Horarios"};

} // namespace

Form_Cadastro_Clientes::Form_Cadastro_Clientes(CommonServices common, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    setObjectName(QStringLiteral("Form_Cadastro_Clientes"));
    setWindowTitle(QStringLiteral("Cadastro de Clientes"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    m_chooser = m_defaultChooser.get();
    m_digits = new DigitsOnly(common.prompt, this);
    m_usuarios = new SubRecordModel(SubRecordModel::Kind::Usuarios, this);
    m_zonas = new SubRecordModel(SubRecordModel::Kind::Zonas, this);
    m_particoes = new SubRecordModel(SubRecordModel::Kind::Particoes, this);
    m_usuarios->setObjectName(QStringLiteral("Table_Usuarios"));
    m_zonas->setObjectName(QStringLiteral("Table_Zonas"));
    m_particoes->setObjectName(QStringLiteral("Table_Particoes"));
    for (SubRecordModel *m : {m_usuarios, m_zonas, m_particoes}) {
        connect(m, &SubRecordModel::postFailed, this,
                [this, m](const QString &, const QString &reason) {
                    static const char *const what[] = {"o usuário", "a zona", "a partição"};
                    error(QStringLiteral("Houve um erro ao gravar %1 do cliente.")
                              .arg(QString::fromUtf8(what[int(m->kind())])),
                          reason);
                });
        connect(m, &SubRecordModel::postRefused, this, [this](const QString &message) {
            if (Prompt *p = m_common.prompt)
                p->message(message, QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
        });
    }

    m_pages = named(new QTabWidget, "PC_Clientes");
    m_pages->addTab(createBasicPage(), QStringLiteral("Básico"));
    m_pages->addTab(createPhotosPage(), QStringLiteral("Imagens"));
    m_pages->addTab(createRecordsPage(m_usuarios, "Grid_Usuarios"), QStringLiteral("Usuarios"));
    m_pages->addTab(createRecordsPage(m_zonas, "Grid_Zonas"), QStringLiteral("Zonas"));
    m_pages->addTab(createRecordsPage(m_particoes, "Grid_Particoes"), QStringLiteral("Partições"));
    m_pages->addTab(createSchedulePage(), QStringLiteral("Quadro de Horários"));
    for (int i = 0; i < m_pages->count(); ++i)
        m_pages->widget(i)->setObjectName(QLatin1String(kPageNames[i]));
    connect(m_pages, &QTabWidget::currentChanged, this, &Form_Cadastro_Clientes::pageShown);

    // Speed buttons take no focus: pressing one does not leave ME_Conta.
    auto speed = [this](const char *nome, const QString &text,
                        void (Form_Cadastro_Clientes::*f)()) {
        auto *b = named(new QPushButton(text), nome);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(speed("Speed_Salvar", QStringLiteral("SALVAR"),
                             &Form_Cadastro_Clientes::Speed_SalvarClick));
    buttons->addWidget(speed("Speed_Cancelar", QStringLiteral("CANCELAR"),
                             &Form_Cadastro_Clientes::Speed_CancelarClick));

    auto *l = new QVBoxLayout(this);
    l->addWidget(m_pages, 1);
    l->addLayout(buttons);
    applyKeyboardHabits(this);
}

Form_Cadastro_Clientes::~Form_Cadastro_Clientes() = default;

Form_Cadastro_Clientes *Form_Cadastro_Clientes::create(CommonServices common, QWidget *parent) {
    auto *f = new Form_Cadastro_Clientes(common, parent);
    f->setAttribute(Qt::WA_DeleteOnClose);
    return f;
}

// "Houve um erro ao …" in the error box, followed by the reason when a field's value is at
// fault.
void Form_Cadastro_Clientes::error(const QString &what, const QString &reason) {
    if (Prompt *p = m_common.prompt)
        p->message(reason.isEmpty() ? what : what + QStringLiteral("\n\n") + reason,
                   QStringLiteral("ERRO"), Prompt::Icon::Error);
}

QLineEdit *Form_Cadastro_Clientes::textField(const char *nome, int maxLength,
                                             QString AccountRecord::*field, bool digits) {
    auto *e = named(new QLineEdit, nome);
    if (maxLength > 0) e->setMaxLength(maxLength);
    m_fields.push_back({e, field, digits});
    return e;
}

// The mask's literals are shown, only the digits are stored.
QLineEdit *Form_Cadastro_Clientes::maskedField(const char *nome, const char *mask,
                                               QString AccountRecord::*field) {
    QLineEdit *e = textField(nome, 0, field, true);
    e->setInputMask(QLatin1String(mask));
    m_digits->guard(e);
    return e;
}

// Digits without a fixed layout (telephones, minutes).
QLineEdit *Form_Cadastro_Clientes::numericField(const char *nome, int maxLength,
                                                QString AccountRecord::*field) {
    QLineEdit *e = textField(nome, maxLength, field);
    e->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("\\d{0,%1}").arg(maxLength)), e));
    m_digits->guard(e);
    return e;
}

QWidget *Form_Cadastro_Clientes::createBasicPage() {
    auto *page = new QWidget;
    m_contaEdit = named(new QLineEdit, "ME_Conta");
    m_contaEdit->setInputMask(QStringLiteral("000000;_"));
    m_contaEdit->installEventFilter(this);
    m_digits->guard(m_contaEdit);
    auto *contaRow = new QHBoxLayout;
    contaRow->addWidget(m_contaEdit);
    contaRow->addWidget(new QLabel(QStringLiteral("( 6 DÍGITOS )")));
    contaRow->addStretch(1);

    m_nome = textField("Edit_Nome", 40, &AccountRecord::nome);
    // Upper case as typed, as the name has always been kept.
    connect(m_nome, &QLineEdit::textChanged, this, [this](const QString &t) {
        const QString upper = t.toUpper();
        if (upper == t) return;
        const int at = m_nome->cursorPosition();
        m_nome->setText(upper);
        m_nome->setCursorPosition(at);
    });
    m_dataCadastro = named(new QLineEdit, "Edit_Data_Cadastro");
    m_dataCadastro->setReadOnly(true);
    m_id = named(new QLineEdit, "Edit1");
    m_id->setParent(page);
    m_id->hide();

    auto *left = new QFormLayout;
    left->addRow(QStringLiteral("Conta"), contaRow);
    left->addRow(QStringLiteral("Nome"), m_nome);
    left->addRow(QStringLiteral("Endereço Res."),
                 textField("Edit_Endereco1", 40, &AccountRecord::endereco1));
    left->addRow(QStringLiteral("Endereço Com."),
                 textField("Edit_Endereco2", 40, &AccountRecord::endereco2));
    left->addRow(QStringLiteral("Bairro"), textField("Edit_Bairro1", 30, &AccountRecord::bairro1));
    left->addRow(QStringLiteral("CEP"),
                 maskedField("ME_Cep1", "00000-000;_", &AccountRecord::cep1));
    left->addRow(QStringLiteral("Cidade"), textField("Edit_Cidade", 30, &AccountRecord::cidade));
    left->addRow(QStringLiteral("Empresa"), textField("Edit_Empresa", 40, &AccountRecord::empresa));
    left->addRow(QStringLiteral("EMail"), textField("Edit_Email", 40, &AccountRecord::email));

    auto *right = new QFormLayout;
    right->addRow(QStringLiteral("Data Cadastro"), m_dataCadastro);
    right->addRow(QStringLiteral("Telefone Res."),
                  numericField("ME_Telefone1", 14, &AccountRecord::telefone1));
    right->addRow(QStringLiteral("Telefone Com."),
                  numericField("ME_Telefone2", 14, &AccountRecord::telefone2));
    right->addRow(QStringLiteral("Celular"),
                  numericField("ME_Celular", 14, &AccountRecord::celular));
    right->addRow(QStringLiteral("Animais"),
                  textField("Edit_Animais", 10, &AccountRecord::animais));
    right->addRow(QStringLiteral("RG"), textField("Edit_RG", 10, &AccountRecord::rg));
    right->addRow(QStringLiteral("CPF"),
                  maskedField("ME_Cpf", "000.000.000-00;_", &AccountRecord::cpf));
    right->addRow(QStringLiteral("CNPJ"),
                  maskedField("ME_Cnpj", "00.000.000./0000-00;_", &AccountRecord::cnpj));
    right->addRow(QStringLiteral("Insc. Estadual"), textField("Edit_IE", 12, &AccountRecord::ie));

    auto *columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    auto *l = new QVBoxLayout(page);
    l->addLayout(columns);
    l->addLayout(createNotesAndMonitoring(), 1);
    return page;
}

QLayout *Form_Cadastro_Clientes::createNotesAndMonitoring() {
    auto *obsGroup = named(new QGroupBox(QStringLiteral(" OBSERVAÇÕES ")), "GB_Obs");
    m_obs = named(new QPlainTextEdit, "M_Obs");
    // The column holds 400 characters: more would only make the save fail.
    connect(m_obs, &QPlainTextEdit::textChanged, this, [this] {
        const QString t = m_obs->toPlainText();
        if (t.size() <= kObsWidth) return;
        m_obs->setPlainText(t.left(kObsWidth));
        m_obs->moveCursor(QTextCursor::End);
    });
    (new QVBoxLayout(obsGroup))->addWidget(m_obs);

    auto *monitor = named(new QGroupBox(QStringLiteral(" MONITORAMENTO ")), "GB_Monitoramento");
    auto *mf = new QFormLayout(monitor);
    mf->addRow(QStringLiteral("Equipamento"),
               textField("E_Equipamento", 20, &AccountRecord::equipamento));
    mf->addRow(QStringLiteral("Evento Identif."),
               textField("Edit_Evento_Idecall", 4, &AccountRecord::eventoIdecall));
    mf->addRow(QStringLiteral("Telefone Identif."),
               numericField("ME_Telefone_Idecall", 14, &AccountRecord::foneIdecall));
    mf->addRow(QStringLiteral("Senha"), textField("Edit_Senha", 20, &AccountRecord::senha));
    m_tempoInativo = numericField("EditTempoInativo", 5, &AccountRecord::tempoAtraso);
    auto *tempoRow = new QHBoxLayout;
    tempoRow->addWidget(m_tempoInativo);
    tempoRow->addWidget(new QLabel(QStringLiteral("Minutos")));
    tempoRow->addStretch(1);
    mf->addRow(QStringLiteral("Tempo Inativo"), tempoRow);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(obsGroup, 1);
    bottom->addWidget(monitor, 1);
    return bottom;
}

QWidget *Form_Cadastro_Clientes::createPhotosPage() {
    auto *page = new QWidget;
    auto *l = new QHBoxLayout(page);
    for (int n = 0; n < 2; ++n) {
        const QByteArray suffix = QByteArray::number(n + 1);
        m_photoPath[n] = new QLineEdit(page);
        m_photoPath[n]->setObjectName(QLatin1String("E_Foto_" + suffix));
        m_photoPath[n]->hide();
        m_photo[n] = new QLabel;
        m_photo[n]->setObjectName(QLatin1String("Img_Cliente_" + suffix));
        m_photo[n]->setFixedSize(320, 240);
        m_photo[n]->setFrameShape(QFrame::Box);
        m_photo[n]->setScaledContents(true); // stretched to the frame
        auto *select = new QPushButton(QStringLiteral("Selecionar"));
        select->setObjectName(QLatin1String("Botao_Selecionar_Foto_" + suffix));
        select->setAutoDefault(false);
        connect(select, &QPushButton::clicked, this, [this, n] { selectPhotoClick(n + 1); });
        auto *clear = new QPushButton(QStringLiteral("Limpar"));
        clear->setObjectName(QLatin1String("Botao_Limpar_Foto_" + suffix));
        clear->setAutoDefault(false);
        connect(clear, &QPushButton::clicked, this, [this, n] { clearPhotoClick(n + 1); });
        auto *pair = new QHBoxLayout;
        pair->addWidget(select);
        pair->addWidget(clear);
        auto *column = new QVBoxLayout;
        column->addWidget(m_photo[n]);
        column->addLayout(pair);
        column->addStretch(1);
        l->addLayout(column);
    }
    return page;
}

QWidget *Form_Cadastro_Clientes::createRecordsPage(SubRecordModel *model, const char *gridName) {
    auto *page = new QWidget;
    auto *grid = named(new SubRecordGrid(model, m_digits), gridName);
    (new QVBoxLayout(page))->addWidget(grid);
    return page;
}

QWidget *Form_Cadastro_Clientes::createSchedulePage() {
    auto *page = new QWidget;
    auto *panel = named(new QFrame, "Panel_Instrucoes");
    panel->setFrameShape(QFrame::StyledPanel);
    auto *pl = new QVBoxLayout(panel);
    pl->addWidget(new QLabel(QStringLiteral(
        "Use o mouse para selecionar a área e clique nos botões [Marcar] ou [Desmarcar].")));
    auto *red = new QHBoxLayout;
    red->addWidget(new QLabel(QStringLiteral("A faixa")));
    auto *vermelha = new QLabel(QStringLiteral("VERMELHA"));
    vermelha->setStyleSheet(QStringLiteral("color: #FF0000; font-weight: bold;"));
    red->addWidget(vermelha);
    red->addWidget(
        new QLabel(QStringLiteral("corresponde aos horários onde o alarme deve estar armado.")));
    red->addStretch(1);
    pl->addLayout(red);

    m_scheduleGrid = new ScheduleGrid;
    m_gauge = named(new QProgressBar, "Barra_Armados");
    m_gauge->setRange(0, 168);
    m_gauge->setValue(0);
    auto *gaugeRow = new QHBoxLayout;
    gaugeRow->addWidget(new QLabel(QStringLiteral("Percentual do tempo com alarme ligado:")));
    gaugeRow->addWidget(m_gauge, 1);

    auto *patterns = named(new QGroupBox(QStringLiteral(" Padrões ")), "GB_Padroes");
    auto *gl = new QHBoxLayout(patterns);
    const char *const names[3] = {"RB_Comercio", "RB_Industria", "RB_Residencia"};
    const QString texts[3] = {QStringLiteral("Comércio"), QStringLiteral("Indústria"),
                              QStringLiteral("Residência")};
    for (int i = 0; i < 3; ++i) {
        m_patterns[i] = named(new QRadioButton(texts[i]), names[i]);
        gl->addWidget(m_patterns[i]);
    }
    m_patterns[0]->setChecked(true);
    auto button = [this](const char *nome, const QString &text,
                         void (Form_Cadastro_Clientes::*f)()) {
        auto *b = named(new QPushButton(text), nome);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    gl->addWidget(button("Botao_Carregar_Padrao", QStringLiteral("Carregar Padrão"),
                         &Form_Cadastro_Clientes::Botao_Carregar_PadraoClick));
    auto *actions = new QHBoxLayout;
    actions->addWidget(button("Botao_Marcar", QStringLiteral("Marcar"),
                              &Form_Cadastro_Clientes::Botao_MarcarClick));
    actions->addWidget(button("Botao_Desmarcar", QStringLiteral("Desmarcar"),
                              &Form_Cadastro_Clientes::Botao_DesmarcarClick));
    actions->addStretch(1);
    actions->addWidget(button("Botao_Gravar", QStringLiteral("Gravar"),
                              &Form_Cadastro_Clientes::Botao_GravarClick));
    actions->addWidget(button("Botao_Desfazer", QStringLiteral("Desfazer"),
                              &Form_Cadastro_Clientes::Botao_DesfazerClick));

    auto *l = new QVBoxLayout(page);
    l->addWidget(panel);
    l->addWidget(m_scheduleGrid, 0, Qt::AlignHCenter);
    l->addLayout(gaugeRow);
    l->addWidget(patterns);
    l->addLayout(actions);
    l->addStretch(1);
    return page;
}

// Opening ---------------------------------------------------------------------------------

void Form_Cadastro_Clientes::openNew() {
    prepareNew();
    open();
}

void Form_Cadastro_Clientes::openAccount(const QString &conta, Page page) {
    prepareAccount(conta, page);
    open();
}

void Form_Cadastro_Clientes::clearFields() {
    for (const BoundField &f : m_fields)
        f.edit->clear();
    m_contaEdit->clear();
    m_dataCadastro->clear();
    m_id->clear();
    m_obs->clear();
    for (int n = 0; n < 2; ++n) {
        m_photoPath[n]->clear();
        m_photo[n]->clear();
    }
}

// The activation runs once, as the form opens: the original ran it at every activation, so
// closing any message box proposed a new number or read the account again over the
// operator's input.
bool Form_Cadastro_Clientes::prepareNew() {
    m_mode = 'I';
    m_conta.clear();
    clearFields();
    m_contaEdit->setEnabled(true);
    showPage(Page::Basico);
    QString errorText;
    const std::optional<QString> numero = AccountRecordRepository::Buscar_Numero_Nova_Conta(
        m_common.database.primary(), &errorText);
    if (!numero) {
        if (Prompt *p = m_common.prompt)
            p->message(
                QStringLiteral("Houve um erro ao buscar o novo código de conta para o cliente."),
                QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    m_contaEdit->setText(*numero);
    return true;
}

bool Form_Cadastro_Clientes::prepareAccount(const QString &conta, Page page) {
    m_mode = 'A';
    m_conta = conta;
    clearFields();
    m_contaEdit->setText(conta);
    m_contaEdit->setEnabled(false);
    bool ok = false;
    const std::optional<AccountRecord> r =
        AccountRecordRepository::find(m_common.database.primary(), conta, &ok);
    if (!ok) {
        if (Prompt *p = m_common.prompt)
            p->message(QStringLiteral("Houve um erro ao buscar os dados da conta de cliente."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
    } else if (r) {
        fill(*r);
    }
    showPage(page);
    return ok;
}

void Form_Cadastro_Clientes::fill(const AccountRecord &r) {
    for (const BoundField &f : m_fields)
        f.edit->setText(r.*(f.field));
    m_obs->setPlainText(r.obs);
    m_id->setText(r.id.toString());
    m_dataCadastro->setText(r.dataCadastro.isNull()
                                ? QString()
                                : r.dataCadastro.toDateTime().toString(DateFormats::kDateTime));
    m_photoPath[0]->setText(r.foto1);
    m_photoPath[1]->setText(r.foto2);
    loadPhoto(0);
    loadPhoto(1);
}

AccountRecord Form_Cadastro_Clientes::record() const {
    AccountRecord r;
    for (const BoundField &f : m_fields)
        r.*(f.field) = textOrEmpty(f.digits ? digitsOf(f.edit->text()) : f.edit->text());
    r.conta = accountNumber();
    r.obs = textOrEmpty(m_obs->toPlainText());
    r.foto1 = textOrEmpty(m_photoPath[0]->text());
    r.foto2 = textOrEmpty(m_photoPath[1]->text());
    return r;
}

QString Form_Cadastro_Clientes::accountNumber() const {
    if (m_mode == 'A') return m_conta;
    return AccountRecordRepository::padNumber(m_contaEdit->text());
}

// Pages ----------------------------------------------------------------------------------

Form_Cadastro_Clientes::Page Form_Cadastro_Clientes::currentPage() const {
    return Page(m_pages->currentIndex());
}

void Form_Cadastro_Clientes::showPage(Page page) {
    const int index = int(page);
    if (m_pages->currentIndex() == index)
        pageShown(index); // already in front: showing it again does what showing does
    else
        m_pages->setCurrentIndex(index); // pageShown through currentChanged
}

void Form_Cadastro_Clientes::pageShown(int index) {
    // Before an opening there is no account to read, nor any to store a schedule for.
    if (m_mode == 0) return;
    switch (Page(index)) {
    case Page::Usuarios:
        showRecords(*m_usuarios);
        break;
    case Page::Zonas:
        showRecords(*m_zonas);
        break;
    case Page::Particoes:
        showRecords(*m_particoes);
        break;
    case Page::Horarios:
        TS_HorariosShow();
        break;
    default:
        break;
    }
}

void Form_Cadastro_Clientes::showRecords(SubRecordModel &model) {
    // A row in edition is posted before the table is read again; refused, it stays in sight.
    if (!model.post()) return;
    if (m_mode == 'I') m_unsavedNumbers.insert(accountNumber());
    model.reopen(m_common.database.secondary(), accountNumber());
}

// ME_Conta -------------------------------------------------------------------------------

bool Form_Cadastro_Clientes::eventFilter(QObject *o, QEvent *e) {
    if (o == m_contaEdit && e->type() == QEvent::FocusOut && !m_checkingConta) {
        // OnExit: focus moved to another control of the form, not to another window.
        const Qt::FocusReason why = static_cast<QFocusEvent *>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason &&
            why != Qt::MenuBarFocusReason)
            ME_ContaExit();
    } else if (o == m_contaEdit && e->type() == QEvent::FocusIn) {
        ME_ContaEnter();
    }
    return QDialog::eventFilter(o, e);
}

bool Form_Cadastro_Clientes::ME_ContaExit() {
    if (m_mode != 'I') return true;
    m_checkingConta = true;
    const QString conta = AccountRecordRepository::padNumber(m_contaEdit->text());
    m_contaEdit->setText(conta);
    bool ok = false;
    const bool exists = AccountRecordRepository::Verificar_Conta_Existente(
        m_common.database.primary(), conta, &ok);
    Prompt *p = m_common.prompt;
    bool usable = true;
    if (!ok) {
        if (p)
            p->message(
                QStringLiteral("Houve um erro ao verificar a existência da conta do cliente."),
                QStringLiteral("ERRO"), Prompt::Icon::Error);
        usable = false;
    } else if (exists) {
        if (p)
            p->message(QStringLiteral("A conta informada já está cadastrada."),
                       QStringLiteral("ATENÇÃO"), Prompt::Icon::Information);
        m_pages->setCurrentIndex(int(Page::Basico));
        m_contaEdit->setFocus();
        usable = false;
    }
    m_checkingConta = false;
    return usable;
}

void Form_Cadastro_Clientes::ME_ContaEnter() {
    if (m_mode != 'A') return;
    if (Prompt *p = m_common.prompt)
        p->message(QStringLiteral("A conta do cliente não poderá ser alterada."),
                   QStringLiteral("ATENÇÃO"), Prompt::Icon::Information);
}

// SALVAR and CANCELAR --------------------------------------------------------------------

void Form_Cadastro_Clientes::Speed_SalvarClick() {
    Prompt *p = m_common.prompt;
    if (m_nome->text().trimmed().size() < 3) {
        if (p)
            p->message(QStringLiteral("O nome deve conter no mínimo 3 letras."),
                       QStringLiteral("NOME"), Prompt::Icon::Question);
        return;
    }
    // A number the column cannot hold is told before any question, the field kept to correct.
    if (const auto fault = AccountRecordRepository::checkTempoAtraso(record())) {
        if (p) p->message(fault->message, QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
        m_pages->setCurrentIndex(int(Page::Basico));
        m_tempoInativo->setFocus();
        m_tempoInativo->selectAll();
        return;
    }
    QSqlDatabase db = m_common.database.primary();
    QString errorText, reason;
    bool inserted = false;
    if (m_mode == 'I') {
        // The speed button takes no focus, so the number may not have left ME_Conta yet.
        if (!ME_ContaExit()) return;
        if (!p || !p->question(QStringLiteral("Deseja realmente incluir a nova conta de cliente?"),
                               QStringLiteral("INCLUSÃO"), Prompt::Icon::Question, true))
            return;
        bool minutes = false;
        m_tempoInativo->text().trimmed().toInt(&minutes);
        if (!minutes)
            m_tempoInativo->setText(QString::number(AccountRecordRepository::kDefaultTempoAtraso));
        if (!AccountRecordRepository::insert(db, record(), m_common.clock.now(), &errorText,
                                             &reason)) {
            error(QStringLiteral("Houve um erro ao incluir nova conta de cliente."), reason);
            return;
        }
        inserted = true;
        // From now on the account exists: should the form stay open, SALVAR alters it.
        m_conta = accountNumber();
        m_mode = 'A';
        m_contaEdit->setEnabled(false);
    } else if (m_mode == 'A') {
        if (!p ||
            !p->question(QStringLiteral("Deseja realmente alterar os dados da conta de cliente?"),
                         QStringLiteral("ALTERAÇÃO"), Prompt::Icon::Question, true))
            return;
        if (!AccountRecordRepository::update(db, record(), &errorText, &reason)) {
            error(QStringLiteral("Houve um erro ao alterar dados da conta de cliente."), reason);
            return;
        }
    } else {
        return;
    }
    emit accountSaved(m_conta, inserted);
    if (!postRecords()) return; // the grid's row refused: the form stays with it
    accept();
}

bool Form_Cadastro_Clientes::postRecords() {
    for (SubRecordModel *m : {m_particoes, m_zonas, m_usuarios})
        if (!m->post()) return false;
    return true;
}

void Form_Cadastro_Clientes::cancelRecords() {
    for (SubRecordModel *m : {m_particoes, m_zonas, m_usuarios})
        m->cancel();
}

void Form_Cadastro_Clientes::Speed_CancelarClick() {
    cancelRecords();
    reject();
}

// Users, zones, partitions and the schedule are written as they are typed, keyed by the number
// in ME_Conta before the account exists: an account never saved leaves none of them behind,
// however the form closes, so the next "Novo Cliente" proposing that number starts empty.
void Form_Cadastro_Clientes::discardUnsaved() {
    const QSet<QString> numbers = std::exchange(m_unsavedNumbers, {});
    QSqlDatabase db = m_common.database.primary();
    for (const QString &conta : numbers) {
        if (conta == m_conta && m_mode == 'A') continue; // saved
        QString errorText;
        if (!AccountRecordRepository::discardUnsaved(db, conta, &errorText))
            error(QStringLiteral("Houve um erro ao descartar os registros da conta %1, que não "
                                 "foi gravada.")
                      .arg(conta),
                  QString());
    }
}

void Form_Cadastro_Clientes::keyPressEvent(QKeyEvent *e) {
    // Esc leaves the form only through CANCELAR, as it always did: a dialog's Esc would drop
    // everything typed without a word (and an Esc meant for a grid's cell would close it).
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void Form_Cadastro_Clientes::done(int r) {
    for (SubRecordModel *m : {m_particoes, m_zonas, m_usuarios})
        m->close();
    discardUnsaved();
    QDialog::done(r);
}

// Photos ---------------------------------------------------------------------------------

bool Form_Cadastro_Clientes::isImage(const QString &path) const {
    QImageReader reader(path);
    return reader.canRead();
}

void Form_Cadastro_Clientes::loadPhoto(int n) {
    m_photo[n]->clear();
    const QString stored = m_photoPath[n]->text();
    if (stored.trimmed().isEmpty()) return;
    const QString file = Paths::resolveStoredPath(stored);
    // A photo not (or no longer) where the table says is shown as absent: the path stays.
    if (!QFileInfo(file).isFile()) return;
    QImageReader reader(file);
    const QImage image = reader.read();
    if (image.isNull()) {
        if (Prompt *p = m_common.prompt)
            p->message(QStringLiteral("O arquivo \"%1\" não é uma imagem (JPG, BMP, GIF ou PNG).")
                           .arg(stored),
                       QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
        return;
    }
    m_photo[n]->setPixmap(QPixmap::fromImage(image));
}

void Form_Cadastro_Clientes::selectPhotoClick(int n) {
    if (n < 1 || n > 2) return;
    const QString current = Paths::resolveStoredPath(m_photoPath[n - 1]->text());
    const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    const QString chosen =
        m_chooser->openFile(QStringLiteral("Seleção de Imagem"), folder,
                            QStringLiteral("JPG (*.jpg);;BMP (*.bmp);;GIF (*.gif);;PNG (*.png)"));
    if (chosen.isEmpty()) return;
    if (!isImage(chosen)) {
        if (Prompt *p = m_common.prompt)
            p->message(QStringLiteral("O arquivo \"%1\" não é uma imagem (JPG, BMP, GIF ou PNG).")
                           .arg(chosen),
                       QStringLiteral("ATENÇÃO"), Prompt::Icon::Warning);
        return;
    }
    m_photoPath[n - 1]->setText(chosen);
    loadPhoto(n - 1);
}

void Form_Cadastro_Clientes::clearPhotoClick(int n) {
    if (n < 1 || n > 2) return;
    m_photoPath[n - 1]->clear();
    m_photo[n - 1]->clear();
}

// Schedule -------------------------------------------------------------------------------

void Form_Cadastro_Clientes::TS_HorariosShow() {
    m_gauge->setValue(0);
    bool found = false;
    QString errorText;
    const QString conta = accountNumber();
    if (m_mode == 'I') m_unsavedNumbers.insert(conta);
    const std::optional<WeeklySchedule> stored = AccountRecordRepository::readSchedule(
        m_common.database.primary(), conta, &found, &errorText);
    if (!stored) {
        // Not read is not empty: no pattern is stored over a schedule that may exist.
        m_scheduleGrid->setSchedule(WeeklySchedule());
        if (Prompt *p = m_common.prompt)
            p->message(QStringLiteral("Houve um erro ao ler o quadro de horários do cliente."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    if (!found) {
        // Every account that opens this page has a stored schedule from then on.
        m_patterns[0]->setChecked(true);
        Botao_Carregar_PadraoClick();
        if (writeSchedule()) TS_HorariosShow();
        return;
    }
    m_scheduleGrid->setSchedule(*stored);
    m_gauge->setValue(stored->markedCount());
}

void Form_Cadastro_Clientes::Botao_MarcarClick() {
    m_scheduleGrid->markSelection(true);
}

void Form_Cadastro_Clientes::Botao_DesmarcarClick() {
    m_scheduleGrid->markSelection(false);
}

void Form_Cadastro_Clientes::Botao_Carregar_PadraoClick() {
    WeeklySchedule::Pattern p = WeeklySchedule::Pattern::Comercio;
    if (m_patterns[1]->isChecked()) p = WeeklySchedule::Pattern::Industria;
    if (m_patterns[2]->isChecked()) p = WeeklySchedule::Pattern::Residencia;
    m_scheduleGrid->setSchedule(WeeklySchedule::pattern(p));
}

bool Form_Cadastro_Clientes::writeSchedule() {
    QString errorText;
    if (AccountRecordRepository::writeSchedule(m_common.database.primary(), accountNumber(),
                                               m_scheduleGrid->schedule(), &errorText))
        return true;
    if (Prompt *p = m_common.prompt)
        p->message(QStringLiteral("Houve um erro ao gravar o quadro de horários do cliente."),
                   QStringLiteral("ERRO"), Prompt::Icon::Error);
    return false;
}

void Form_Cadastro_Clientes::Botao_GravarClick() {
    // Refused, the operator's marks stay on the grid and the stored schedule as it was.
    if (writeSchedule()) TS_HorariosShow();
}

void Form_Cadastro_Clientes::Botao_DesfazerClick() {
    TS_HorariosShow();
}

} // namespace tulmo
