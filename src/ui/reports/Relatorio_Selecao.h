#pragma once

#include "core/console/CommonServices.h"
#include "core/reports/ReportLayout.h"
#include "core/reports/ReportQuery.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QStringListModel;

namespace tulmo {

class LiveSettings;

class ReportMailFlow;
class ReportPreview;
class ReportSource;

// "Relatórios de Eventos": the choice of account, kind, days and order of an event report,
// its preview ("Imprimir") and its e-mail ("Enviar por Email"). Made for each use and
// destroyed when closed. The events are read on a thread of the window's own, so neither a
// report of a whole year nor its mail holds reception.
class Form_Relatorio_Selecao : public QDialog {
    Q_OBJECT
public:
    explicit Form_Relatorio_Selecao(CommonServices common, LiveSettings &settings, QWidget *parent = nullptr);
    ~Form_Relatorio_Selecao() override;

    void Button2Click();     // "Imprimir"
    void Botao_EmailClick(); // "Enviar por Email", and "Cancelar" while mail is being sent
    // Reads the account list again, keeping the text shown.
    void rebuildAccounts();

    ReportSelection selection() const;
    QString statusText() const;
    ReportMailFlow &mailFlow() { return *m_mail; }
    // How the preview is run once its first page is read: modal by default; tests print it.
    void setPreviewRunner(std::function<void(ReportPreview &)> run) {
        m_runPreview = std::move(run);
    }

signals:
    // The account list was read again (after each activation).
    void accountsRebuilt();

protected:
    void showEvent(QShowEvent *e) override;
    void changeEvent(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void reject() override;

private:
    void buildControls();
    void buildButtons(QGridLayout *grid);
    void opened(bool ok, const QString &error);
    void firstPage(int page, const QList<ReportRow> &rows);
    void startMail(const ReportSelection &sel);
    void mailFinished();
    void setBusy(bool busy);

    CommonServices m_common;
    LiveSettings &m_settings;
    ReportSource *m_source;
    ReportSource *m_accountSource;
    ReportMailFlow *m_mail;
    std::function<void(ReportPreview &)> m_runPreview;
    bool m_opening = false;
    bool m_readingAccounts = false;
    bool m_readAgain = false;
    bool m_mailWaitsForAccounts = false; // "Todas" pressed while the list was being read
    ReportSelection m_mailSelection;
    ReportSelection m_openedSelection;

    QComboBox *m_conta;
    QStringListModel *m_accounts;
    QComboBox *m_selecao;
    QCheckBox *m_allDays;
    QDateEdit *m_inicial;
    QDateEdit *m_final;
    QGroupBox *m_order;
    QRadioButton *m_ascending;
    QRadioButton *m_descending;
    QCheckBox *m_complete;
    QPushButton *m_print;
    QPushButton *m_email;
    QPushButton *m_close;
    QStatusBar *m_status;
    QProgressBar *m_gauge;
};

} // namespace tulmo
