#include "Eventos_Pendentes.h"

#include "Principal.h"
#include "store/SqlListModel.h"
#include "common/Clock.h"
#include "common/Prompt.h"
#include "common/TextCodec.h"
#include "console/ConsoleCore.h"
#include "common/DateFormats.h"
#include "events/AccountRepository.h"
#include "events/EventRepository.h"
#include "events/EventTypes.h"

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
#include <QVBoxLayout>

namespace tulmo {

const QStringList Form_Eventos_Pendentes::kIntervencoesPadrao{
    QStringLiteral("Disparo Falso"), QStringLiteral("Teste"), QStringLiteral("Técnico Enviado"),
    QStringLiteral("Tático Enviado")};

namespace {

const QColor kCorFundoDica(0xFF, 0xFF, 0xE1); // info background

// The pending list shows its dates as "dd/MM/yyyy HH:mm".
class PendingList : public SqlListModel {
public:
    using SqlListModel::SqlListModel;
    QVariant data(const QModelIndex &index, int role) const override {
        const QVariant v = SqlListModel::data(index, role);
        if (role == Qt::DisplayRole && index.column() == colunaDe(QStringLiteral("DATA"))) {
            const QDateTime t = v.toDateTime();
            return t.isValid() ? t.toString(DateFormats::kDateTimeMinutes) : QString();
        }
        return v;
    }
};

QLineEdit *campo(const char *nome) {
    auto *e = new QLineEdit;
    e->setObjectName(QLatin1String(nome));
    e->setReadOnly(true);
    return e;
}

} // namespace

QStringList Form_Eventos_Pendentes::lerIntervencoes(const QString &arquivo) {
    bool lido = false;
    const QStringList linhas = readWindowsTextLines(arquivo, &lido);
    if (!lido) return kIntervencoesPadrao;
    QStringList tipos;
    for (const QString &linha : linhas)
        if (!linha.trimmed().isEmpty()) tipos << linha;
    // A file with no kind in it would leave the operator nothing to choose.
    return tipos.isEmpty() ? kIntervencoesPadrao : tipos;
}

QColor Form_Eventos_Pendentes::corDoTipo(const QString &tipo) {
    return QColor(QRgb(EventTypes::pendingColors(tipo).background.value_or(0xFFFFFF)));
}

QString Form_Eventos_Pendentes::textoPrioridade(const QVariant &prioridade) {
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

QString Form_Eventos_Pendentes::mascaraTelefone(const QString &telefone) {
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

Form_Eventos_Pendentes::Form_Eventos_Pendentes(ConsoleCore &core, Form_Principal &principal,
                                               QWidget *parent)
    : QDialog(parent)
    , m_core(core)
    , m_principal(principal) {
    setObjectName(QStringLiteral("Form_Eventos_Pendentes"));
    setWindowTitle(QStringLiteral("Eventos Pendentes"));
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    m_dataset = new PendingList(EventRepository::pendingListSql(),
                                   {{"CODIGO_ALARME", QStringLiteral("CODIGO")},
                                    {"ARGUMENTO", {}},
                                    {"NUMERO_PARTICAO", QStringLiteral("PARTIÇÃO")},
                                    {"DESCRICAO", QStringLiteral("DESCRIÇÃO")},
                                    {"DATA", {}}},
                                   this);
    m_dataset->setObjectName(QStringLiteral("DataSet_Eventos_Pendentes"));

    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("Grid_Pendentes"));
    m_grid->setModel(m_dataset);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->setColumnWidth(3, 260);
    m_grid->setColumnWidth(4, 120);
    QPalette pal = m_grid->palette();
    pal.setColor(QPalette::Base, kCorFundoDica);
    m_grid->setPalette(pal);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!m_reabrindo) Atualizar();
    });
    connect(m_grid, &QAbstractItemView::clicked, this, &Form_Eventos_Pendentes::Atualizar);
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);

    auto *conta = new QGroupBox(QStringLiteral(" Dados da Conta "));
    conta->setObjectName(QStringLiteral("GroupBox1"));
    auto *fc = new QGridLayout(conta);
    m_conta = campo("Conta_Cliente");
    m_nome = campo("Nome_Cliente");
    m_fone1 = campo("ME_Telefone1");
    m_fone2 = campo("ME_Telefone2");
    m_fone3 = campo("ME_Telefone3");
    m_animais = campo("Animais");
    m_senha = campo("Senha");
    m_obs = new QPlainTextEdit;
    m_obs->setObjectName(QStringLiteral("Observacoes"));
    m_obs->setReadOnly(true);
    m_obs->setMaximumHeight(70);
    fc->addWidget(new QLabel(QStringLiteral("Conta:")), 0, 0);
    fc->addWidget(m_conta, 0, 1);
    fc->addWidget(new QLabel(QStringLiteral("Nome:")), 0, 2);
    fc->addWidget(m_nome, 0, 3, 1, 3);
    fc->addWidget(new QLabel(QStringLiteral("Telefone Res.:")), 1, 0);
    fc->addWidget(m_fone1, 1, 1);
    fc->addWidget(new QLabel(QStringLiteral("Telefone Com.:")), 1, 2);
    fc->addWidget(m_fone2, 1, 3);
    fc->addWidget(new QLabel(QStringLiteral("Celuluar:")), 1, 4);
    fc->addWidget(m_fone3, 1, 5);
    fc->addWidget(new QLabel(QStringLiteral("Animais:")), 2, 0);
    fc->addWidget(m_animais, 2, 1);
    fc->addWidget(new QLabel(QStringLiteral("Senha:")), 2, 2);
    fc->addWidget(m_senha, 2, 3);
    fc->addWidget(new QLabel(QStringLiteral("Observações")), 3, 0);
    fc->addWidget(m_obs, 3, 1, 1, 5);

    auto *detalhes = new QGroupBox(QStringLiteral(" Detalhes "));
    detalhes->setObjectName(QStringLiteral("GroupBox2"));
    auto *fd = new QGridLayout(detalhes);
    m_evento = new QLabel;
    m_evento->setObjectName(QStringLiteral("ST_Evento"));
    m_evento->setAlignment(Qt::AlignCenter);
    m_evento->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_evento->setAutoFillBackground(true);
    m_evento->setMinimumHeight(28);
    QFont negrito = m_evento->font();
    negrito.setBold(true);
    m_evento->setFont(negrito);
    m_prioridade = new QLabel;
    m_prioridade->setObjectName(QStringLiteral("ST_Prioridade"));
    m_prioridade->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_intervencao = new QComboBox;
    m_intervencao->setObjectName(QStringLiteral("CB_Intervencao"));
    m_intervencao->setEditable(true);
    m_intervencao->setInsertPolicy(QComboBox::NoInsert);
    m_intervencao->lineEdit()->setMaxLength(EventRepository::kIntervencaoWidth);
    m_detalhes = new QLineEdit;
    m_detalhes->setObjectName(QStringLiteral("E_Detalhes"));
    m_detalhes->setMaxLength(EventRepository::kDetalhesWidth);
    auto *botao = new QPushButton(QStringLiteral("Finalizar Intervenção"));
    botao->setObjectName(QStringLiteral("Button1"));
    botao->setAutoDefault(false);
    connect(botao, &QPushButton::clicked, this, &Form_Eventos_Pendentes::Button1Click);
    fd->addWidget(m_evento, 0, 0, 1, 4);
    fd->addWidget(new QLabel(QStringLiteral("Prioridade")), 1, 0);
    fd->addWidget(m_prioridade, 1, 1);
    fd->addWidget(new QLabel(QStringLiteral("Intervenção:")), 1, 2);
    fd->addWidget(m_intervencao, 1, 3);
    fd->addWidget(new QLabel(QStringLiteral("Detalhes do Atendimento:")), 2, 0);
    fd->addWidget(m_detalhes, 2, 1, 1, 3);
    fd->addWidget(botao, 3, 3, Qt::AlignRight);

    auto *l = new QVBoxLayout(this);
    l->addWidget(m_grid, 1);
    l->addWidget(conta);
    l->addWidget(detalhes);
    setFixedSize(720, 560);

    carregarIntervencoes();
    connect(&m_core.gravador(), &EventRecorder::pendenteRegistrado, this,
            &Form_Eventos_Pendentes::eventoPendente);
}

void Form_Eventos_Pendentes::carregarIntervencoes() {
    const QStringList tipos = lerIntervencoes(QDir(m_core.dataDir()).filePath("int.txt"));
    m_intervencao->clear();
    m_intervencao->addItems(tipos);
    m_intervencao->setCurrentIndex(0);
    m_intervencao->setEditText(tipos.first());
}

bool Form_Eventos_Pendentes::event(QEvent *e) {
    if (e->type() == QEvent::WindowActivate) carregarIntervencoes();
    return QDialog::event(e);
}

void Form_Eventos_Pendentes::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    carregarIntervencoes();
    Buscar_Atualizacoes();
}

bool Form_Eventos_Pendentes::eventFilter(QObject *o, QEvent *e) {
    if ((o == m_grid && e->type() == QEvent::KeyRelease) ||
        (o == m_grid->viewport() && e->type() == QEvent::MouseButtonRelease))
        Atualizar();
    return QDialog::eventFilter(o, e);
}

void Form_Eventos_Pendentes::eventoPendente() {
    if (!isVisible())
        show(); // showing refreshes the list
    else
        Buscar_Atualizacoes();
}

int Form_Eventos_Pendentes::linhaAtual() const {
    const int r = m_grid->currentIndex().row();
    return r >= 0 && r < m_dataset->rowCount() ? r : -1;
}

void Form_Eventos_Pendentes::selecionarLinha(int row) {
    if (row < 0 || row >= m_dataset->rowCount()) return;
    m_grid->setCurrentIndex(m_dataset->index(row, 0));
    m_grid->selectRow(row);
}

QVariant Form_Eventos_Pendentes::sequenciaAtual() const {
    const int r = linhaAtual();
    return r < 0 ? QVariant() : m_dataset->valor(r, QStringLiteral("SEQUENCIA"));
}

bool Form_Eventos_Pendentes::reabrirLista() {
    QSqlDatabase db = m_core.dm().banco().principal();
    // A statement on a closed connection fails without an error of its own.
    if (!db.isOpen()) {
        m_dataset->clear();
        return false;
    }
    m_dataset->reabrir(db);
    if (m_dataset->lastError().isValid()) return false;
    while (m_dataset->canFetchMore())
        m_dataset->fetchMore();
    return true;
}

bool Form_Eventos_Pendentes::Buscar_Atualizacoes() {
    const QVariant marca = sequenciaAtual();
    m_reabrindo = true;
    const bool ok = reabrirLista();
    int row = m_dataset->rowCount() > 0 ? 0 : -1;
    // Back to the row the operator was on, while it is still pending.
    if (!marca.isNull())
        for (int r = 0; r < m_dataset->rowCount(); ++r)
            if (m_dataset->valor(r, QStringLiteral("SEQUENCIA")).toLongLong() ==
                marca.toLongLong()) {
                row = r;
                break;
            }
    selecionarLinha(row);
    m_reabrindo = false;
    if (!ok) {
        if (Prompt *p = m_core.prompt())
            p->message(QStringLiteral("Houve um erro ao tentar atualizar os dados do evento."),
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    Atualizar();
    return true;
}

void Form_Eventos_Pendentes::limparDetalhes() {
    for (QLineEdit *e : {m_conta, m_nome, m_fone1, m_fone2, m_fone3, m_animais, m_senha})
        e->clear();
    m_obs->clear();
    m_evento->clear();
    QPalette p = m_evento->palette();
    p.setColor(QPalette::Window, Qt::white);
    m_evento->setPalette(p);
    m_prioridade->clear();
}

void Form_Eventos_Pendentes::Atualizar() {
    const QVariant seq = sequenciaAtual();
    limparDetalhes();
    // The description being typed belongs to the event shown; it goes when another is.
    if (seq.isNull() || m_sequenciaMostrada.isNull() ||
        seq.toLongLong() != m_sequenciaMostrada.toLongLong())
        m_detalhes->clear();
    m_sequenciaMostrada = seq;
    const int r = linhaAtual();
    if (r < 0) return;

    if (const std::optional<Account> a = AccountRepository::find(
            m_core.dm().banco().principal(), m_dataset->valor(r, QStringLiteral("CONTA")))) {
        m_conta->setText(a->conta);
        m_nome->setText(a->nome);
        m_fone1->setText(mascaraTelefone(a->telefone1));
        m_fone2->setText(mascaraTelefone(a->telefone2));
        m_fone3->setText(mascaraTelefone(a->celular));
        m_animais->setText(a->animais);
        m_senha->setText(a->senha);
        m_obs->setPlainText(a->obs);
    }

    m_evento->setText(m_dataset->valor(r, QStringLiteral("DESCRICAO")).toString().toUpper());
    QPalette p = m_evento->palette();
    p.setColor(QPalette::Window, corDoTipo(m_dataset->valor(r, QStringLiteral("TIPO")).toString()));
    m_evento->setPalette(p);
    m_prioridade->setText(textoPrioridade(m_dataset->valor(r, QStringLiteral("PRIORIDADE"))));
}

void Form_Eventos_Pendentes::Button1Click() {
    Prompt *prompt = m_core.prompt();
    if (m_detalhes->text().trimmed().isEmpty()) {
        if (prompt)
            prompt->message(QStringLiteral("Voce precisa escrever os detalhes da intervenção!"));
        return;
    }
    bool ok = true;
    const QVariant seq = sequenciaAtual();
    if (!seq.isNull())
        ok = EventRepository::finishIntervention(m_core.dm().banco().principal(), seq,
                                                 m_detalhes->text(), m_intervencao->currentText(),
                                                 m_core.clock().now());
    if (ok) {
        // The treated event shows among the received ones at once.
        m_principal.reabrirEventosRecebidos();
        m_reabrindo = true;
        ok = reabrirLista();
        selecionarLinha(0);
        m_reabrindo = false;
        Atualizar();
        if (ok && m_dataset->rowCount() == 0) {
            m_principal.setPendingCommandEnabled(false);
            close();
        }
    }
    if (!ok && prompt)
        prompt->message(QStringLiteral("Houve um erro ao tentar alterar o evento."),
                        QStringLiteral("ATENÇÃO"), Prompt::Icon::Error);
    m_detalhes->clear();
}

} // namespace tulmo
