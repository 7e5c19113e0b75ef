#pragma once

#include <QColor>
#include <QDialog>
#include <QStringList>
#include <QVariant>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;

namespace tulmo {

class ConsoleCore;
class Form_Principal;
class SqlListModel;

// The events waiting for an operator (TRATADO = 0), newest first, with the account data
// needed to handle the one selected, and the recording of the intervention that closes it.
// Modeless: it stays open beside the main window while new events arrive.
class Form_Eventos_Pendentes : public QDialog {
    Q_OBJECT
public:
    Form_Eventos_Pendentes(ConsoleCore &core, Form_Principal &mainWindow, QWidget *parent = nullptr);

    // Refreshes the list keeping the current row while it is still pending. False (after the
    // operator's message) when the list could not be read.
    bool Buscar_Atualizacoes();
    // Fills the detail fields from the current row.
    void Atualizar();
    // "Finalizar Intervenção".
    void Button1Click();

    // An event was recorded as pending: the window comes up, or refreshes if already up.
    void pendingEvent();

    SqlListModel &pending() { return *m_dataset; }
    // The current row, -1 when the list is empty.
    int currentRow() const;
    void selectRow(int row);

    static const QStringList kDefaultInterventionKinds;
    // The intervention kinds of the file, one a line, blank lines skipped; the built-in kinds
    // when the file is missing or has none.
    static QStringList readInterventionKinds(const QString &fileName);
    static QColor typeColor(const QString &tipo);
    static QString priorityText(const QVariant &prioridade);
    // Digits shown as (99) 9999-9999; a longer number keeps every digit.
    static QString phoneMask(const QString &telefone);

protected:
    void showEvent(QShowEvent *e) override;
    bool event(QEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void loadInterventionKinds();
    // Closes and reopens the list, every row fetched.
    bool reopenList();
    void clearDetails();
    QVariant currentSequence() const;

    ConsoleCore &m_core;
    Form_Principal &m_mainWindow;
    SqlListModel *m_dataset;
    QTableView *m_grid;
    QLineEdit *m_account, *m_name, *m_phone1, *m_phone2, *m_phone3, *m_animals, *m_password;
    QPlainTextEdit *m_remarks;
    QLabel *m_event, *m_priority;
    QComboBox *m_intervention;
    QLineEdit *m_details;
    // The event whose details are shown: the typed description stays while it does.
    QVariant m_shownSequence;
    bool m_reopening = false;
};

} // namespace tulmo
