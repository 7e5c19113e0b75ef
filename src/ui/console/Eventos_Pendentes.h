#pragma once

#include "core/console/CommonServices.h"
#include <QColor>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QStringList>
#include <QVariant>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;
class QWindow;

namespace tulmo {

class InterventionKinds;
class LiveSettings;
class EventRecorder;

class Form_Principal;
class SqlListModel;

// The events waiting for an operator (TRATADO = 0), the most urgent first and the oldest
// first within a priority, each with how long it has waited, with the account data
// needed to handle the one selected, and the recording of the intervention that closes it.
// Modeless, and a window of its own rather than one of the main window's: the console's
// dialogs are modal to the main window, and they block every window under it, so this one
// stays usable while any of them is open.
class Form_Eventos_Pendentes : public QDialog {
    Q_OBJECT
public:
    Form_Eventos_Pendentes(CommonServices common, InterventionKinds &kinds, EventRecorder &recorder, Form_Principal &mainWindow, QWidget *parent = nullptr);

    // Refreshes the list keeping the current row while it is still pending. False (after the
    // operator's message) when the list could not be read.
    bool Buscar_Atualizacoes();
    // Fills the detail fields from the current row.
    void Atualizar();
    // "Finalizar Intervenção".
    void Button1Click();

    // An event was recorded as pending: the window comes up, or refreshes if already up.
    void pendingEvent();
    // Shows the window on top of the others without taking the keyboard from the window the
    // operator is typing in; the sound, its place on top and the status bar call him.
    void comeForward();
    // Events were deleted elsewhere (an account, a purge): the list reads again, and with
    // nothing left the window goes, as after the last intervention.
    void eventsRemoved();

    SqlListModel &pending() { return *m_dataset; }
    // The ages of the warning and critical colours; 60 and 90 s without.
    void setSettings(const LiveSettings *settings);
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
    void hideEvent(QHideEvent *e) override;
    bool event(QEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void loadInterventionKinds();
    // Closes and reopens the list, every row fetched.
    bool reopenList();
    void clearDetails();
    QVariant currentSequence() const;
    // Reads the list again after an intervention, on its first row; false when it failed.
    bool reopenAfterIntervention();
    void focusWindowChanged(QWindow *now);

    CommonServices m_common;
    InterventionKinds &m_kinds;
    EventRecorder &m_recorder;
    Form_Principal &m_mainWindow;
    SqlListModel *m_dataset;
    QTimer m_ageTimer; // the waited times move on while the window is shown
    QTableView *m_grid;
    QLineEdit *m_account, *m_name, *m_phone1, *m_phone2, *m_phone3, *m_animals, *m_password;
    QPlainTextEdit *m_remarks;
    QLabel *m_event, *m_priority;
    QComboBox *m_intervention;
    QLineEdit *m_details;
    // The event whose details are shown: the typed description stays while it does.
    QVariant m_shownSequence;
    bool m_reopening = false;
    // The window that had the keyboard when this one came forward, while the platform may
    // still hand the keyboard over to this one on its own.
    QPointer<QWidget> m_typingIn;
    QElapsedTimer m_cameForward;
    bool m_watchingInput = false;
    bool m_raiseWhenExposed = false;
};

} // namespace tulmo
