#pragma once

#include "core/console/CommonServices.h"
#include "core/operators/CurrentOperator.h"
#include "core/operators/OperatorRepository.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tulmo {


// The shift dialog: the operator types name and password; a matching pair becomes the
// console's current operator and its permission bits go out to the main window, which enables
// its commands by them. Leaving it without a matching password removes every permission.
class Form_iniciar_turno : public QDialog {
    Q_OBJECT
public:
    Form_iniciar_turno(CommonServices common, CurrentOperator &current, QWidget *parent = nullptr);

    // Shows the dialog modally; returns when it is closed.
    int openDialog();

    // The name and password check (password field left, or Enter released in it).
    void verifyPassword();
    void cmdOKClick();

    // The four lines of a refused check.
    // "Senha Incorreta!", "Tente novamente", and the installation's login while the
    // administrator's password is still the default.
    static QStringList refusalLines(bool defaultPassword);

    void done(int r) override;

signals:
    // The checked operator's bits; 0 when the dialog closes without a matching password.
    void permissionsChanged(quint32 bits);
    // Whether the shift may open the operator form.
    void operatorFormAllowed(bool allowed);
    // The dialog is closing with the permissions final: the menu commands may follow them.
    void aboutToClose();

protected:
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void FormShow();
    // The shift under way ends (audited); nobody acts until the next one starts.
    void endShift();

    CommonServices m_common;
    CurrentOperator &m_currentOperator;
    QLineEdit *m_name;
    QLineEdit *m_password;
    QPlainTextEdit *m_memo;
    QPushButton *m_ok;
    std::optional<Operator> m_current;
    bool m_checking = false;
    // Who started the shift under way, as the audit tells it; empty when nobody has.
    QString m_shiftOwner;
};

} // namespace tulmo
