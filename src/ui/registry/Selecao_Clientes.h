#pragma once

#include "core/console/CommonServices.h"
#include <QDialog>

class QLabel;
class QLineEdit;
class QTableView;

namespace tulmo {

class AccountBrowser;

// "Seleção Clientes": the monitored accounts with their searches and count, the handled events
// of the selected account, and the entry to creating, altering and deleting accounts. The
// account form is another window: the browser asks for it by signal and is told to read again
// through reopen() once it has saved.
class F_Selecao_Clientes : public QDialog {
    Q_OBJECT
public:
    explicit F_Selecao_Clientes(CommonServices common, QWidget *parent = nullptr);

    void NovoClienteClick();
    void AlterarClick();
    void ExcluirClienteClick();
    void Edit1Change();
    void Edit2Change();

    // Reads the whole account list again (after the account form saved), selecting the account
    // given when it is listed.
    void reopen(const QString &conta = QString());
    AccountBrowser &browser() { return *m_browser; }
    // The account of the selected row (the first when none is), empty when the list is.
    QString currentAccount() const;
    void select(int row);

signals:
    void newAccountRequested();
    void editAccountRequested(const QString &conta);
    // An account and everything of it was deleted: the main window's lists read again.
    void accountDeleted(const QString &conta);

protected:
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    void currentAccountChanged();
    // The search texts changed by the browser itself must not search again.
    void clearSearches();

    CommonServices m_common;
    AccountBrowser *m_browser;
    QTableView *m_accounts;
    QTableView *m_events;
    QLineEdit *m_number;
    QLineEdit *m_name;
    QLabel *m_count;
};

} // namespace tulmo
