#include "ConnectedDevicesModel.h"

#include "core/common/DateFormats.h"
#include "core/reception/ConnectionRegistry.h"

namespace tulmo {

namespace {
const char *const kTitles[] = {"Keep Alive", "Conta",       "Ultimo Pacote", "Ultimo Evento",
                                "Servidor",   "IMEI",        "IP REMOTO",     "Socket",
                                "Conexão",    "Data Conexão"};
} // namespace

ConnectedDevicesModel::ConnectedDevicesModel(ConnectionRegistry &registry, QObject *parent)
    : QAbstractTableModel(parent)
    , m_registry(registry) {
    connect(&m_registry, &ConnectionRegistry::rowAboutToBeAdded, this,
            [this](int r) { beginInsertRows(QModelIndex(), r, r); });
    connect(&m_registry, &ConnectionRegistry::rowAdded, this, [this] { endInsertRows(); });
    connect(&m_registry, &ConnectionRegistry::rowAboutToBeRemoved, this,
            [this](int r) { beginRemoveRows(QModelIndex(), r, r); });
    connect(&m_registry, &ConnectionRegistry::rowRemoved, this, [this] { endRemoveRows(); });
    connect(&m_registry, &ConnectionRegistry::rowChanged, this,
            [this](int r) { emit dataChanged(index(r, 0), index(r, ColCount - 1)); });
    connect(&m_registry, &ConnectionRegistry::socketIndexChanged, this,
            [this](int r) { emit dataChanged(index(r, ColSocket), index(r, ColSocket)); });
}

int ConnectedDevicesModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_registry.rowCount();
}

int ConnectedDevicesModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QString ConnectedDevicesModel::formatDate(const QDateTime &t) {
    return t.isValid() ? t.toString(DateFormats::kDateTime) : QString();
}

ConnectedDevicesModel::State ConnectedDevicesModel::stateOf(const ConnectionRegistry &registry,
                                                            int row) {
    const ConnectionRegistry::Row &l = registry.row(row);
    if (l.datagram) return State::Datagram;
    // A connection the console closed itself is gone too, though no close was seen.
    return l.connected() && l.socket ? State::Connected : State::Disconnected;
}

QString ConnectedDevicesModel::stateText(const ConnectionRegistry &registry, int row) {
    switch (stateOf(registry, row)) {
    case State::Connected:
        return QStringLiteral("conectado");
    case State::Datagram:
        return QStringLiteral("UDP (sem conexão)");
    case State::Disconnected:
        break;
    }
    const QDateTime since = registry.row(row).disconnectedAt;
    return since.isValid() ? QStringLiteral("desconectado desde ") + formatDate(since)
                           : QStringLiteral("desconectado");
}

QVariant ConnectedDevicesModel::sortValue(const QModelIndex &index) const {
    const ConnectionRegistry::Row &l = m_registry.row(index.row());
    switch (index.column()) {
    case ColKeepAlive:
        return l.keepAlive;
    case ColLastEvent:
        return l.lastEvent;
    case ColConnectedAt:
        return l.connectedAt;
    case ColServer:
        return l.server;
    case ColSocket:
        return l.socketIndex;
    case ColConnection:
        return qlonglong(l.connection);
    default:
        return data(index, Qt::DisplayRole);
    }
}

QVariant ConnectedDevicesModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_registry.rowCount()) return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        break;
    case StateRole:
        return int(stateOf(m_registry, index.row()));
    case StateTextRole:
    case Qt::ToolTipRole:
        return stateText(m_registry, index.row());
    case SortRole:
        return sortValue(index);
    default:
        return QVariant();
    }
    const ConnectionRegistry::Row &l = m_registry.row(index.row());
    switch (index.column()) {
    case ColKeepAlive:
        return formatDate(l.keepAlive);
    case ColAccount:
        return l.conta;
    case ColLastPacket:
        return l.lastPacket;
    case ColLastEvent:
        return formatDate(l.lastEvent);
    case ColServer:
        return QString::number(l.server);
    case ColImei:
        return l.imei;
    case ColRemoteIp:
        return l.remoteIp;
    case ColSocket:
        return QString::number(l.socketIndex);
    case ColConnection:
        return QString::number(l.connection);
    case ColConnectedAt:
        return formatDate(l.connectedAt);
    default:
        return QVariant();
    }
}

QVariant ConnectedDevicesModel::headerData(int section, Qt::Orientation orientation,
                                           int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColCount)
        return QVariant();
    return QString::fromUtf8(kTitles[section]);
}

} // namespace tulmo
