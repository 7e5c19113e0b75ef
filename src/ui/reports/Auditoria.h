#pragma once

#include "core/console/CommonServices.h"
#include "core/reports/AuditReport.h"

#include <QDialog>

#include <memory>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QTableWidget;

namespace tulmo {

class FileChooser;
class LiveSettings;

// "Auditoria": who did what, on which workstation and when, with the values before and after;
// filtered by period, operator, account and action, printed or exported. Nothing here
// changes a row: the window only reads.
class Form_Auditoria : public QDialog {
    Q_OBJECT
public:
    Form_Auditoria(CommonServices common, const LiveSettings &settings, QWidget *parent = nullptr);
    ~Form_Auditoria() override;

    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }
    // Reads the rows of the filter into the grid; false, with the operator told, when the
    // period is wrong or the database did not answer.
    bool search();
    void printTo(QPrinter *printer);
    bool exportTo(const QString &path);

protected:
    void showEvent(QShowEvent *e) override;

private:
    void tell(const QString &text);

    CommonServices m_common;
    const LiveSettings &m_settings;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QComboBox *m_operator;
    QLineEdit *m_account;
    QComboBox *m_action;
    QTableWidget *m_grid;
    QLabel *m_count;
    QPushButton *m_print;
    QPushButton *m_export;
    std::optional<AuditReport> m_report;
    AuditFilter m_filter;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
};

} // namespace tulmo
