#include "IniciarTurno.h"

#include "ui/common/KeyboardHabits.h"
#include "core/common/Clock.h"
#include "core/operators/AuditTrail.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/events/EventLine.h"

#include <QFormLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tulmo {

Form_iniciar_turno::Form_iniciar_turno(CommonServices common, CurrentOperator &current, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_currentOperator(current) {
    setObjectName(QStringLiteral("Form_iniciar_turno"));
    setWindowTitle(QStringLiteral("Iniciar Turno"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("Edit1"));
    m_name->setToolTip(QStringLiteral("Digite o seu número"));
    m_name->setAlignment(Qt::AlignRight);
    m_name->setMaxLength(20);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("MaskEdit1"));
    m_password->setToolTip(QStringLiteral("Digite a sua senha de acesso"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->installEventFilter(this);
    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setToolTip(QStringLiteral("Clique aqui para iniciar turno"));
    m_ok->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &Form_iniciar_turno::cmdOKClick);

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Usuario:"), m_name);
    fields->addRow(QStringLiteral("Senha:"), m_password);
    auto *l = new QVBoxLayout(this);
    l->addLayout(fields);
    l->addWidget(m_memo);
    l->addWidget(m_ok, 0, Qt::AlignRight);
    resize(320, 280);
    applyKeyboardHabits(this);
}

int Form_iniciar_turno::openDialog() {
    return exec();
}

void Form_iniciar_turno::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    FormShow();
}

void Form_iniciar_turno::FormShow() {
    m_ok->setEnabled(false);
    m_memo->clear();
    m_password->clear();
    m_name->clear();
    // Nobody is on shift until a name and its password are checked: the shift of whoever was
    // on it ends here.
    endShift();
    m_current.reset();
    m_currentOperator = CurrentOperator{QString(), 0};
    m_name->setFocus();
}

void Form_iniciar_turno::endShift() {
    if (!m_shiftOwner.isEmpty())
        audit::writeAlone(m_common.database.primary(),
                          {QString::fromUtf8(audit::kShiftEnd),
                           QStringLiteral("Operador ") + m_shiftOwner, QString(), QString(),
                           QString()});
    m_shiftOwner.clear();
    audit::setOperator(QString());
}

QStringList Form_iniciar_turno::refusalLines(bool defaultPassword) {
    QStringList lines{QStringLiteral("Senha Incorreta!"), QStringLiteral("Tente novamente")};
    if (defaultPassword)
        lines << QStringLiteral("Usuário Padrão = admin") << QStringLiteral("Senha Padrão = kavra");
    return lines;
}

void Form_iniciar_turno::verifyPassword() {
    // Moving the focus below leaves the password field again: one check at a time.
    if (m_checking) return;
    m_checking = true;
    const QString nome = m_name->text();
    m_current = OperatorRepository::find(m_common.database.primary(), nome);
    // The named operator is on shift only once the password matches; until then nobody is.
    m_currentOperator = CurrentOperator{QString(), 0};
    if (!OperatorRepository::passwordMatches(m_current, m_password->text())) {
        const bool defaultPassword =
            OperatorRepository::adminHasDefaultPassword(m_common.database.primary());
        m_memo->setPlainText(refusalLines(defaultPassword).join(QLatin1Char('\n')));
        audit::writeAlone(m_common.database.primary(),
                          {QString::fromUtf8(audit::kLoginRefused),
                           QStringLiteral("Usuário informado: ") + nome, QString(), QString(),
                           QString()});
        m_password->clear();
        m_name->setFocus();
        m_checking = false;
        return;
    }
    const QDateTime now = m_common.clock.now();
    const QString hora = eventline::shortTime(now.time());
    const QString dia = eventline::shortDate(now.date());
    m_memo->setPlainText(QStringList{
        QStringLiteral("Turno Finalizado às ") + hora, QStringLiteral("Do dia ") + dia,
        QStringLiteral("Operador: ") + nome, QStringLiteral("Turno Iniciado às ") + hora,
        QStringLiteral("Do dia ") + dia, QStringLiteral("Operador: ") + m_current->nome}
                             .join(QLatin1Char('\n')));
    m_currentOperator = CurrentOperator{m_current->nome, m_current->permissoes};
    if (m_shiftOwner != m_current->nome) {
        audit::setOperator(m_current->nome);
        audit::writeAlone(m_common.database.primary(),
                          {QString::fromUtf8(audit::kShiftStart),
                           QStringLiteral("Operador ") + m_current->nome, QString(), QString(),
                           QString()});
        m_shiftOwner = m_current->nome;
    }
    emit permissionsChanged(m_current->permissoes);
    // Only the administrator's name opens the operator form; a shift of anyone else takes
    // it away again.
    emit operatorFormAllowed(OperatorRepository::isAdministrator(nome));
    m_ok->setEnabled(true);
    m_ok->setFocus();
    m_checking = false;
}

void Form_iniciar_turno::cmdOKClick() {
    accept();
}

void Form_iniciar_turno::done(int r) {
    if (!OperatorRepository::passwordMatches(m_current, m_password->text())) {
        // An abandoned or failed shift change leaves nobody on shift and nothing allowed.
        emit permissionsChanged(0);
        emit operatorFormAllowed(false);
        // The password was changed after the check: that shift ends at once.
        endShift();
        m_current.reset();
        m_currentOperator = CurrentOperator{QString(), 0};
    }
    emit aboutToClose();
    QDialog::done(r);
}

bool Form_iniciar_turno::eventFilter(QObject *o, QEvent *e) {
    if (o == m_password) {
        if (e->type() == QEvent::FocusOut) {
            // Leaving the field checks; the dialog closing or another window taking the focus
            // does not.
            const Qt::FocusReason r = static_cast<QFocusEvent *>(e)->reason();
            if (isVisible() && r != Qt::PopupFocusReason && r != Qt::ActiveWindowFocusReason)
                verifyPassword();
        } else if (e->type() == QEvent::KeyRelease) {
            const int k = static_cast<QKeyEvent *>(e)->key();
            if (k == Qt::Key_Return || k == Qt::Key_Enter) verifyPassword();
        }
    }
    return QDialog::eventFilter(o, e);
}

} // namespace tulmo
