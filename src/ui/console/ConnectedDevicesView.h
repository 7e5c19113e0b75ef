#pragma once

#include <QSortFilterProxyModel>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace tulmo {

class ConnectedDevicesModel;

// Grid_Conectados as the operator reads it: each row coloured by its state (connected, gone
// since a time, a DC-09 sender over UDP), sorted by any column, filtered by a text found in
// any column or in the state. The rows and their columns stay those of the model.
class ConnectedDevicesFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ConnectedDevicesFilter(QObject *parent = nullptr);

    void setText(const QString &text);
    void setConnectedOnly(bool only);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_text;
    bool m_connectedOnly = false;
};

// The page's content: a filter line, "Somente conectados", the count of each state and the
// grid itself.
class ConnectedDevicesView : public QWidget {
    Q_OBJECT
public:
    ConnectedDevicesView(ConnectedDevicesModel *model, QTableView *grid, QWidget *parent = nullptr);

    QTableView *grid() const { return m_grid; }
    ConnectedDevicesFilter *filter() const { return m_filter; }
    // The registry row a grid index shows; -1 for none.
    int sourceRow(const QModelIndex &gridIndex) const;
    // "Conectados: 1 · Desconectados: 2 · UDP: 1000", read again from the rows.
    void updateCounts();

private:
    ConnectedDevicesModel *m_model;
    ConnectedDevicesFilter *m_filter;
    QTableView *m_grid;
    QLineEdit *m_text = nullptr;
    QCheckBox *m_connectedOnly = nullptr;
    QLabel *m_counts = nullptr;
};

} // namespace tulmo
