#include "ReplyQueueModel.h"

#include "core/reception/ConnectedDevicesModel.h"
#include "core/reception/ReplyQueue.h"

namespace tulmo {

ReplyQueueModel::ReplyQueueModel(const ReplyQueue &queue, QObject *parent)
    : QAbstractTableModel(parent)
    , m_queue(queue) {
    connect(&m_queue, &ReplyQueue::replyAboutToBeQueued, this,
            [this](int i) { beginInsertRows(QModelIndex(), i, i); });
    connect(&m_queue, &ReplyQueue::replyQueued, this, [this] { endInsertRows(); });
    connect(&m_queue, &ReplyQueue::aboutToBeReset, this, [this] { beginResetModel(); });
    connect(&m_queue, &ReplyQueue::wasReset, this, [this] { endResetModel(); });
}

int ReplyQueueModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_queue.size();
}

int ReplyQueueModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant ReplyQueueModel::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_queue.size()) return {};
    const ReplyQueue::Reply &r = m_queue.replies()[index.row()];
    switch (index.column()) {
    case 0:
        return r.text;
    case 1:
        return QString::number(r.connectionIndex);
    case 2:
        return ConnectedDevicesModel::formatDate(r.hora);
    case 3:
        return QString::number(r.slot);
    default:
        return r.identifier;
    }
}

} // namespace tulmo
