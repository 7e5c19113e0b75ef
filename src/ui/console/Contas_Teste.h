#pragma once

#include "core/console/CommonServices.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace tulmo {

struct CurrentOperator;

// "Contas em Teste": an operator with the test permission puts an account, or some of its
// zones, on test for a time up to what the permission allows; the list shows the accounts on
// test with their end, and a test can be ended before its time. Every change is audited.
class Form_Contas_Teste : public QDialog {
    Q_OBJECT
public:
    Form_Contas_Teste(CommonServices common, const CurrentOperator &current,
                      QWidget *parent = nullptr);

    void refresh();
    // The form's fields, put on test; false with the operator told why not.
    bool startTest();
    // Ends the selected test; false when none is selected or the database refused.
    bool endSelected();

protected:
    void showEvent(QShowEvent *e) override;

private:
    void tell(const QString &text);

    CommonServices m_common;
    const CurrentOperator &m_current;
    QLineEdit *m_account;
    QLineEdit *m_zones;
    QSpinBox *m_minutes;
    QLabel *m_limit;
    QPushButton *m_start;
    QTableWidget *m_grid;
    QLabel *m_summary;
    QPushButton *m_end;
};

} // namespace tulmo
