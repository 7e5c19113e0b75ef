#pragma once

#include <QAbstractTableModel>

namespace tulmo {

class ReplyQueue;

// Grid_Buffer: the queued replies to devices, one row each; the fourth column is the slot
// ("Servidor") the reply belongs to. Not shown; it follows the queue as it changes.
class ReplyQueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ReplyQueueModel(const ReplyQueue &queue, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    const ReplyQueue &m_queue;
};

} // namespace tulmo
