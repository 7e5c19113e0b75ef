#include "IniciarTurno.h"

#include "common/Clock.h"
#include "console/ConsoleCore.h"
#include "events/EventLine.h"

#include <QFormLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tulmo {

Form_iniciar_turno::Form_iniciar_turno(ConsoleCore &core, QWidget *parent)
    : QDialog(parent)
    , m_core(core) {
    setObjectName(QStringLiteral("Form_iniciar_turno"));
    setWindowTitle(QStringLiteral("Iniciar Turno"));
    setModal(true);

    m_nome = new QLineEdit(this);
    m_nome->setObjectName(QStringLiteral("Edit1"));
    m_nome->setToolTip(QStringLiteral("Digite o seu número"));
    m_nome->setAlignment(Qt::AlignRight);
    m_nome->setMaxLength(20);
    m_senha = new QLineEdit(this);
    m_senha->setObjectName(QStringLiteral("MaskEdit1"));
    m_senha->setToolTip(QStringLiteral("Digite a sua senha de acesso"));
    m_senha->setEchoMode(QLineEdit::Password);
    m_senha->installEventFilter(this);
    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setToolTip(QStringLiteral("Clique aqui para iniciar turno"));
    m_ok->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &Form_iniciar_turno::cmdOKClick);

    auto *campos = new QFormLayout;
    campos->addRow(QStringLiteral("Usuario:"), m_nome);
    campos->addRow(QStringLiteral("Senha:"), m_senha);
    auto *l = new QVBoxLayout(this);
    l->addLayout(campos);
    l->addWidget(m_memo);
    l->addWidget(m_ok, 0, Qt::AlignRight);
    resize(320, 280);
}

int Form_iniciar_turno::abrir() {
    return exec();
}

void Form_iniciar_turno::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    FormShow();
}

void Form_iniciar_turno::FormShow() {
    m_ok->setEnabled(false);
    m_memo->clear();
    m_senha->clear();
    m_nome->clear();
    // Nobody is on shift until a name and its password are checked.
    m_atual.reset();
    m_core.operador() = CurrentOperator{QString(), 0};
    m_nome->setFocus();
}

QStringList Form_iniciar_turno::linhasRecusa() {
    return {QStringLiteral("Senha Incorreta!"), QStringLiteral("Tente novamente"),
            QStringLiteral("Usuário Padrão = admin"), QStringLiteral("Senha Padrão = kavra")};
}

void Form_iniciar_turno::verificar() {
    // Moving the focus below leaves the password field again: one check at a time.
    if (m_verificando) return;
    m_verificando = true;
    const QString nome = m_nome->text();
    m_atual = OperatorRepository::buscar(m_core.dm().banco().principal(), nome);
    m_core.operador() =
        m_atual ? CurrentOperator{m_atual->nome, m_atual->permissoes} : CurrentOperator{QString(), 0};
    if (!OperatorRepository::senhaConfere(m_atual, m_senha->text())) {
        m_memo->setPlainText(linhasRecusa().join(QLatin1Char('\n')));
        m_senha->clear();
        m_nome->setFocus();
        m_verificando = false;
        return;
    }
    const QDateTime agora = m_core.clock().now();
    const QString hora = eventline::shortTime(agora.time());
    const QString dia = eventline::shortDate(agora.date());
    m_memo->setPlainText(QStringList{
        QStringLiteral("Turno Finalizado às ") + hora, QStringLiteral("Do dia ") + dia,
        QStringLiteral("Operador: ") + nome, QStringLiteral("Turno Iniciado às ") + hora,
        QStringLiteral("Do dia ") + dia, QStringLiteral("Operador: ") + m_atual->nome}
                             .join(QLatin1Char('\n')));
    emit permissionsChanged(m_atual->permissoes);
    // Only the administrator's name opens the operator form; a shift of anyone else takes
    // it away again.
    emit operatorFormAllowed(OperatorRepository::ehAdministrador(nome));
    m_ok->setEnabled(true);
    m_ok->setFocus();
    m_verificando = false;
}

void Form_iniciar_turno::cmdOKClick() {
    accept();
}

void Form_iniciar_turno::done(int r) {
    if (!OperatorRepository::senhaConfere(m_atual, m_senha->text())) {
        // An abandoned or failed shift change leaves nobody on shift and nothing allowed.
        emit permissionsChanged(0);
        emit operatorFormAllowed(false);
        m_atual.reset();
        m_core.operador() = CurrentOperator{QString(), 0};
    }
    emit aboutToClose();
    QDialog::done(r);
}

bool Form_iniciar_turno::eventFilter(QObject *o, QEvent *e) {
    if (o == m_senha) {
        if (e->type() == QEvent::FocusOut) {
            // Leaving the field checks; the dialog closing or another window taking the focus
            // does not.
            const Qt::FocusReason r = static_cast<QFocusEvent *>(e)->reason();
            if (isVisible() && r != Qt::PopupFocusReason && r != Qt::ActiveWindowFocusReason)
                verificar();
        } else if (e->type() == QEvent::KeyRelease) {
            const int k = static_cast<QKeyEvent *>(e)->key();
            if (k == Qt::Key_Return || k == Qt::Key_Enter) verificar();
        }
    }
    return QDialog::eventFilter(o, e);
}

} // namespace tulmo
