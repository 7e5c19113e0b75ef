#pragma once

#include "operators/OperatorRepository.h"

#include <QDialog>

#include <optional>

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tulmo {

class ConsoleCore;

// The shift dialog: the operator types name and password; a matching pair becomes the
// console's current operator and its permission bits enable the main window's commands.
// Leaving it without a matching password removes every permission.
class Form_iniciar_turno : public QDialog {
    Q_OBJECT
public:
    // principal: the main window whose panels and menu commands follow the permissions.
    Form_iniciar_turno(ConsoleCore &core, QWidget &principal, QWidget *parent = nullptr);

    // Shows the dialog modally; returns when it is closed.
    int abrir();

    // The name and password check (password field left, or Enter released in it).
    void verificar();
    void cmdOKClick();

    // The four lines of a refused check.
    static QStringList linhasRecusa();

    void done(int r) override;

protected:
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void FormShow();
    // Panels by the operator's bits; each menu command then follows its panel.
    void aplicarPaineis(quint32 permissoes);
    void menusSeguemPaineis();
    void setOperadores(bool habilitado);
    QWidget *painel(const char *nome) const;
    QAction *menu(const char *nome) const;

    ConsoleCore &m_core;
    QWidget &m_principal;
    QLineEdit *m_nome;
    QLineEdit *m_senha;
    QPlainTextEdit *m_memo;
    QPushButton *m_ok;
    std::optional<Operator> m_atual;
    bool m_verificando = false;
};

} // namespace tulmo
