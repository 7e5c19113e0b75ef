#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace tulmo {

class Database;
class EventRecorder;
class Prompt;

// "Contas em Disparo": the accounts flagged runaway, whose events are recorded without being
// raised or sounded, with when they were flagged, their last event and how many came since.
// An operator frees one with "Liberar"; an account also frees itself after thirty minutes
// without events. Refreshed whenever the flags change, here or at another workstation.
class Form_Contas_Disparo : public QDialog {
    Q_OBJECT
public:
    Form_Contas_Disparo(Database &database, EventRecorder &recorder, Prompt *prompt,
                        QWidget *parent = nullptr);

    void refresh();
    // Frees the selected account; false when none is selected or the database refused.
    bool releaseSelected();

protected:
    void showEvent(QShowEvent *e) override;

private:
    Database &m_database;
    EventRecorder &m_recorder;
    Prompt *m_prompt;
    QTableWidget *m_grid;
    QLabel *m_summary;
    QPushButton *m_release;
};

} // namespace tulmo
