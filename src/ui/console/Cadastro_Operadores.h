#pragma once

#include "core/console/CommonServices.h"
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tulmo {

class SqlListModel;

// The permission check boxes of the form, one per bit of OPERADORES.PERMISSOES.
inline constexpr int kPermissionBoxes = 8;

// The operators, their passwords and permission bits. Only the administrator opens it;
// the administrator's own row can be altered but neither renamed nor deleted.
class FormCadastroOperadores : public QDialog {
    Q_OBJECT
public:
    explicit FormCadastroOperadores(CommonServices common, QWidget *parent = nullptr);

    void GridOperadoresClick();
    void AlterarClick();
    void NovoOperadorClick();
    void SalvarClick();
    void ExcluirOperadorClick();

    // Reopens the list, keeping the selection on the named operator when given.
    void reopen(const QString &select = QString());
    SqlListModel &list() { return *m_list; }
    void select(int row);
    // 'I' new, 'A' alteration, 0 none.
    char modo() const { return m_mode; }
    // The sum of the checked boxes' bits.
    quint32 checkedPermissions() const;

protected:
    void showEvent(QShowEvent *e) override;

private:
    int currentRow() const;
    QString currentName() const;
    // Shows the selected row read-only.
    void showRow();
    void checkBoxes(quint32 permissoes);
    void enableBoxes(bool on);

    CommonServices m_common;
    SqlListModel *m_list;
    QTableView *m_grid;
    QLineEdit *m_name;
    QLineEdit *m_password;
    QCheckBox *m_boxes[kPermissionBoxes];
    char m_mode = 0;
    QString m_previousName; // the row being altered, by the name it had
};

} // namespace tulmo
