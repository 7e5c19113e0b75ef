#pragma once

#include "core/reception/LineLog.h"
#include "core/reception/SlotWriter.h"
#include "core/reception/TcpConnection.h"
#include "core/reception/TcpListener.h"
#include "core/settings/ReceiverTable.h"
#include "core/store/Database.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>

class QSerialPort;
class QUdpSocket;
class QTimer;

namespace tulmo {

// One of the ten numbered receiver inputs: a serial port, and a TCP listener for devices.
struct ReceiverSlot {
    int number = 0;
    QSerialPort *comPort = nullptr;      // ComPortaN: receiver line, or a TCP slot's event output
    QTimer *timerCom = nullptr;          // TimerComN: 300 ms of quiet ends a serial frame
    QTimer *timerSM = nullptr;           // TimerSMN: identification time-out of a serial receiver
    TcpListener *socketServer = nullptr; // SocketServerN: device link listener
    QUdpSocket *udpSocket = nullptr;     // DC-09 receiver of a UDP/IP slot
    QByteArray rxBuffer;                 // serial bytes since the last frame
    int tempoResposta = 0;    // SlotTempoResposta: seconds before a queued reply goes out
    int tempoKeepAlive = 0;   // SlotTempoKeepAlive: minutes of silence before a drop
    quint8 dumpPending = 0;   // a download runs: transferConnection's data is the block
    quint8 uploadPending = 0; // an upload exchange runs on this slot
    // The device the module exchange talks to: only its data answers the exchange, every other
    // device of the slot goes on being decoded and answered.
    QPointer<TcpConnection> transferConnection;
    int portaCom = -1; // the serial port last configured for the slot (-1: none)
    int baudsCom = 0;
    bool eventOutput = false; // a TCP/IP slot whose frames are repeated out of its serial port
    QDateTime lastHeard;      // the serial receiver's last byte (its heartbeat, at least)

    // Whether what socket sends belongs to the module exchange of this slot: only the device
    // the exchange talks to, and only while a download or an upload runs.
    bool inTransfer(const TcpConnection *socket) const {
        return (dumpPending || uploadPending) && socket && transferConnection == socket;
    }
};

// The reception data module: the ten receiver slots, configured from the RECEIVER table of the
// store it is given.
class DM1 : public QObject, public SlotWriter {
    Q_OBJECT
public:
    static constexpr int kSlots = 10;
    enum Mode { Serial = 0, TcpIp = 1, UdpIp = 2 };

    // dataDir holds Config.ini (whose [Portas] section maps port names); database is the
    // store's, open before the slots are applied.
    DM1(QString dataDir, Database &database, QObject *parent = nullptr);
    ~DM1() override;

    const QString &dataDir() const { return m_dataDir; }

    ReceiverSlot &slot(int k) { return m_slots[size_t(k)]; }
    bool validSlot(int k) const { return k >= 1 && k <= kSlots; }
    // The serial port of slot k (1 to 10).
    QSerialPort *comPort(int k) const;

    // "COM1" for index 0 … "COM20" for index 19.
    static QString portName(int portaCom);
    // The speed of each index of the settings dialog's list; 9600 for an unknown index.
    static qint32 speed(int baudsCom);
    // Closes the port of slot k, names it after portaCom (through [Portas]), sets the speed
    // and opens it: 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS off.
    // Every open is followed by "SP", the receiver identification request.
    bool openSerialPort(int k, int portaCom, int baudsCom, QString *error = nullptr);

    // Applies the RECEIVER table to the slots: the k-th row configures slot k. A port that
    // two active receivers claim serves the first claim only (see ReceiverPorts); the others
    // stay closed, their rows unchanged, and each conflict comes back as the operator's text,
    // also on the port monitor.
    QStringList Realizar_Atualizacoes();
    // A station of several workstations: a receiver that cannot be opened here is not marked
    // inactive in the shared table (another workstation may open it, or this one in a
    // moment, once the process that held its port has let it go); retryRefused() opens again
    // the listeners and UDP ports refused since the last apply.
    void setShared(bool shared) { m_shared = shared; }
    void retryRefused();
    // Opens again, every kSerialRetryMs, a serial port closed because its device failed or
    // went away; a port that opens asks its receiver who it is.
    void reopenFailedSerial();
    static constexpr int kSerialRetryMs = 5000;
    // What the last apply configured, slot k from row k − 1.
    const QList<ReceiverConfig> &appliedRows() const { return m_appliedRows; }
    // Reception moves to another workstation: every port, listener and UDP socket closes.
    void closeAll();

    bool writeToSlot(int slot, const QByteArray &bytes) override;
    bool openAndWrite(int slot, const QByteArray &bytes) override;
    bool hasEventOutput(int slot) const override;

    // TimerSMk fired: the serial receiver of slot k did not identify itself in time.
    void TimerSMTimer(int k);

    // The settings dialog's port monitor (Porta_Visor) and the main window's raw-data memo.
    LineLog &portMonitor() { return m_portMonitor; }
    LineLog &memo1() { return m_memo1; }

signals:
    // A serial receiver did not answer the identification request, or a TCP receiver's
    // port could not be opened: the settings dialog enables "Aplicar" and clears
    // "Receiver ativo".
    void receiverNotFound(int slot);
    // The listener or UDP port of slot k could not be opened (port 0, in use, refused by the
    // system): why is the port monitor's line, for a message naming the receiver.
    void receiverRefused(int slot, const QString &why);
    // A listener was (re)started on slot k.
    void listenerStarted(int slot);
    // A conflict of ports that the previous apply did not have: the operator is told once.
    void portConflict(const QString &text);

private:
    void markInactive(int k);
    void serialFailed(int k);
    // The listener of slot k cannot be opened: the receiver goes inactive, and why is shown.
    void listenerRefused(int k, const QString &why);
    // SocketServerk could not accept a connection: one port monitor line; the listener
    // itself resumes shortly.
    void SocketServerAcceptError(int k, QAbstractSocket::SocketError error);
    using Row = ReceiverConfig;
    // The RECEIVER table by number; nullopt when it cannot be read.
    std::optional<QList<Row>> readReceivers();
    // Takes the refused claims out of rows (a refused input leaves its receiver closed for
    // this apply, a refused output leaves the slot without one) and reports them.
    QStringList refuseConflicts(QList<Row> &rows);
    void applyTcp(int k, const Row &l, const QList<Row> &rows);
    void releasePort(int k, int port, const QList<Row> &rows);
    // Binds slot k's UDP socket to port (a DC-09 receiver); false when it cannot.
    bool openUdp(int k, int port);
    void closeUdp(int k);
    void ComPortaAfterOpen(int k);

    QString m_dataDir;
    Database &m_database;
    std::array<ReceiverSlot, kSlots + 1> m_slots{}; // index 0 unused: slots count from 1
    LineLog m_portMonitor;
    LineLog m_memo1;
    QStringList m_conflicts; // as the last apply found them
    bool m_shared = false;
    QList<Row> m_appliedRows;               // what the last apply configured
    QSet<int> m_refused;                    // slots whose listener or UDP port the system refused
    QHash<int, QElapsedTimer> m_serialDown; // serial slots closed on a failure, since the last try
    QHash<int, QString> m_refusals;         // why, as last told

    friend class SerialReception;
};

} // namespace tulmo
