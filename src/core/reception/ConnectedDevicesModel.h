#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>

namespace tulmo {

class ConnectionRegistry;

// Grid_Conectados: the rows of the connection registry as a table, one column per field.
// The registry announces every change, so the view never reads a row that is gone.
class ConnectedDevicesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        ColKeepAlive = 0,
        ColAccount,
        ColLastPacket,
        ColLastEvent,
        ColServer,
        ColImei,
        ColRemoteIp,
        ColSocket,
        ColConnection,
        ColConnectedAt,
        ColCount
    };

    // Whether a row's device is on line: its connection open, gone (until the keep-alive
    // expiry drops the row), or a DC-09 sender over UDP, which has no connection.
    enum class State { Connected, Disconnected, Datagram };
    enum Role {
        StateRole = Qt::UserRole + 1, // State, as int
        SortRole,                     // a value that sorts as the column means (times, numbers)
        StateTextRole,                // "conectado", "desconectado desde …", "UDP (sem conexão)"
    };

    explicit ConnectedDevicesModel(ConnectionRegistry &registry, QObject *parent = nullptr);

    ConnectionRegistry &registry() const { return m_registry; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Times as the grids show them; empty when never set.
    static QString formatDate(const QDateTime &t);
    static State stateOf(const ConnectionRegistry &registry, int row);
    static QString stateText(const ConnectionRegistry &registry, int row);

private:
    QVariant sortValue(const QModelIndex &index) const;

    ConnectionRegistry &m_registry;
};

} // namespace tulmo
