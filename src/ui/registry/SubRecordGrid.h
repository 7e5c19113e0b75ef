#pragma once

#include <QTableView>

namespace tulmo {

class DigitsOnly;
class SubRecordModel;

// The grid of one sub-record table of the account form, behaving as the data grid did: typing
// edits the current row, leaving the row posts it (a row refused stays current), Down on the
// last row or Insert appends a new row, Esc drops the edition. CONTA is hidden; the key takes
// digits only.
class SubRecordGrid : public QTableView {
    Q_OBJECT
public:
    SubRecordGrid(SubRecordModel *model, DigitsOnly *digits, QWidget *parent = nullptr);
    SubRecordModel &records() const { return *m_model; }

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void appendAndEdit();
    SubRecordModel *m_model;
    bool m_returning = false; // moving back to a row that could not be posted
};

} // namespace tulmo
