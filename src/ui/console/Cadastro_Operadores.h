#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tulmo {

class ConsoleCore;
class SqlListModel;

// The operators, their passwords and permission bits. Only the administrator opens it;
// the administrator's own row can be altered but neither renamed nor deleted.
class FormCadastroOperadores : public QDialog {
    Q_OBJECT
public:
    explicit FormCadastroOperadores(ConsoleCore &core, QWidget *parent = nullptr);

    void GridOperadoresClick();
    void AlterarClick();
    void NovoOperadorClick();
    void SalvarClick();
    void ExcluirOperadorClick();

    // Reopens the list, keeping the selection on the named operator when given.
    void reabrir(const QString &selecionar = QString());
    SqlListModel &lista() { return *m_lista; }
    void selecionar(int row);
    // 'I' new, 'A' alteration, 0 none.
    char modo() const { return m_modo; }
    // The sum of the checked boxes' bits.
    quint32 permissoesMarcadas() const;

protected:
    void showEvent(QShowEvent *e) override;

private:
    int linhaAtual() const;
    QString nomeAtual() const;
    // Shows the selected row read-only.
    void mostrarLinha();
    void marcar(quint32 permissoes);
    void habilitarMarcas(bool sim);

    ConsoleCore &m_core;
    SqlListModel *m_lista;
    QTableView *m_grid;
    QLineEdit *m_nome;
    QLineEdit *m_senha;
    QCheckBox *m_marcas[6];
    char m_modo = 0;
    QString m_nomeAnterior; // the row being altered, by the name it had
};

} // namespace tulmo
