#pragma once

#include "core/console/CommonServices.h"
#include "core/reports/AnswerTimes.h"

#include <QDialog>

#include <memory>
#include <optional>

class QDateEdit;
class QLabel;
class QPrinter;
class QPushButton;
class QTableWidget;

namespace tulmo {

class FileChooser;
class LiveSettings;

// "Tempo de atendimento": for a period, how long the alarms waited from their arrival to an
// operator's treatment, as the median, the 90th percentile and the longest, by operator and by
// event type; printed, or exported for a spreadsheet.
class Form_Tempo_Atendimento : public QDialog {
    Q_OBJECT
public:
    Form_Tempo_Atendimento(CommonServices common, const LiveSettings &settings,
                           QWidget *parent = nullptr);
    ~Form_Tempo_Atendimento() override;

    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }
    // Reads the period's times into the grids; false, with the operator told, when the period is
    // wrong or the database did not answer.
    bool calculate();
    // Prints the last calculation (printer set up by the caller: a printer, or a PDF file).
    void printTo(QPrinter *printer);
    // Writes the last calculation as CSV; false with the operator told when it cannot.
    bool exportTo(const QString &path);

private:
    void print();
    void exportFile();
    void fill(QTableWidget *grid, const QList<AnswerTimeGroup> &groups);
    void tell(const QString &text);

    CommonServices m_common;
    const LiveSettings &m_settings;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QTableWidget *m_operators;
    QTableWidget *m_types;
    QLabel *m_total;
    QPushButton *m_print;
    QPushButton *m_export;
    std::optional<AnswerTimes> m_times;
    QDate m_timesFrom, m_timesTo;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
};

} // namespace tulmo
