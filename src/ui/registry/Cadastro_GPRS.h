#pragma once

#include "core/console/CommonServices.h"
#include <QColor>
#include <QDialog>

class QTableView;

namespace tulmo {

class ConnectionRegistry;
class GprsDirectory;

class GprsTableModel;

// "Cadastro de GPRS": the registered modules, approved, blocked, edited and deleted in place.
// A row is saved when the selection leaves it, on Enter or with "Gravar"; deleting a module
// also drops its live connection from "GPRS Conectados".
class Form_Cadastro_GPRS : public QDialog {
    Q_OBJECT
public:
    explicit Form_Cadastro_GPRS(CommonServices common, GprsDirectory &directory,
                                ConnectionRegistry &connections, QWidget *parent = nullptr);

    void IncluirClick();
    void GravarClick();
    void ExcluirClick();

    // Connects again and reads every module.
    void reopen();
    GprsTableModel &table() { return *m_table; }
    QTableView &grid() { return *m_grid; }
    void select(int row);
    int currentRow() const;
    // The background of a row as the grid paints it.
    QColor rowColor(int row) const;
    // Closing saves the row left in edit first; a row that cannot be saved keeps the window
    // open with its edits.
    void done(int result) override;

protected:
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    // Saves the row the selection left when it holds edits.
    void currentRowChanged(int current, int previous);
    // Saves or drops the edits of a row being left; false when they could not be saved.
    bool leaveRow(int row);

    CommonServices m_common;
    ConnectionRegistry &m_connections;
    GprsTableModel *m_table;
    QTableView *m_grid;
};

} // namespace tulmo
