#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "core/reception/DeviceRegistration.h"
#include "core/reception/TcpConnection.h"
#include "core/registry/GprsDirectory.h"

namespace tulmo {

class Clock;
class ConnectionRegistry;
class DM1;
class Database;
class ReceptionSink;

// The text protocol of the devices connected over TCP (Decodifica_TCP): identification and
// registration of devices, heartbeats, event frames and their acknowledgements.
class DeviceLink : public QObject {
    Q_OBJECT
public:
    DeviceLink(DM1 &dm, Database &database, ConnectionRegistry &registry, ReceptionSink &sink, const Clock &clock,
               QObject *parent = nullptr);

    // One frame D read from a connection of slot k.
    void Decodifica_TCP(const QByteArray &D, TcpConnection *socket, int k);

    // The device caption of the "Conta" column for a device code, empty when unknown.
    static QString deviceCaption(const QString &codigo);

    // The GPRS rows identification answers from. The registry's writes tell it their changes;
    // a notice of another workstation's change calls its refresh() or reload().
    GprsDirectory &gprsDirectory() { return m_directory; }

signals:
    // DumpPending: one read of the data the remote access console asked its device for, raw
    // and as upper-case hexadecimal digits. The flag stays set: the module exchange gathers
    // the reads and clears it.
    void dumpReceived(int slot, const QByteArray &payload, const QString &hex);
    // UploadPending: the console's device is ready for the prepared upload text ("UPE").
    void uploadAllowed(int slot, TcpConnection *socket);
    // UploadPending: the console's device took the upload ("UPOK"); the flag is already
    // cleared.
    void uploadDone(int slot);
    // "#$": the twelve channel readings and the output states of the module on socket.
    void channelReading(int slot, const QByteArray &frame, TcpConnection *socket);
    // A device of the GPRS table was registered as pending.
    void deviceRegistered(const QString &imei);
    // A SIA DC-09 message from a connection of slot k.
    void dc09Received(TcpConnection *socket, int slot, const QByteArray &frame);

private:
    // A module download or upload with the device on socket takes its frame instead of the
    // device protocol.
    bool takenByModuleTransfer(const QByteArray &bytes, const QString &D, TcpConnection *socket,
                               int k);
    // What a frame of the device protocol is, by its first characters and its length.
    enum class TcpFrameKind { Identification, ChannelReading, ReceiverEvent, Packet, ShortEvent, Other };
    static TcpFrameKind classifyTcpFrame(const QString &D);
    // One handler per kind; r is the frame's row in the connected devices.
    void identify(const QString &D, TcpConnection *socket, int k, int &r);
    void receiverEvent(const QString &D, int r, int k, const QString &handle, const QDateTime &now);
    void packet(const QString &D, int r, int k, const QString &handle, const QDateTime &now);
    void shortEvent(const QString &D, int r, int k, const QString &handle, const QDateTime &now);
    // Stages the event of a receiver frame (with or without its 0x14) for the writer's next
    // flush: true when it is a whole event whose storable line is queued, and may be
    // acknowledged once durable. Otherwise the port monitor says why it is not.
    bool queued(const QString &frame, const QString &handle, int k);
    // Queues a reply once every line staged so far is durable. When the write failed, the
    // reply to a frame (handle given) is not sent, the port monitor says so, and onFailure
    // runs; a reply that acknowledges no line (no handle) is queued all the same.
    void replyWhenDurable(const QString &text, int connectionIndex, int k, const QString &id,
                          const QPointer<TcpConnection> &socket, const QDateTime &now,
                          const QString &handle, std::function<void()> onFailure = nullptr);
    // Puts the row's last packet back to before, when a write lost the packet's line.
    std::function<void()> forgetPacket(const QPointer<TcpConnection> &socket,
                                       const QString &packet, const QString &before);
    void notAcknowledged(const QString &handle, int k, const QString &why);
    // Registers the unknown module id as pending, or says on the port monitor why it is held
    // back; false when the database failed.
    bool registerUnknown(const QString &id, const QString &conta, const QString &codigo,
                         TcpConnection *socket, int k);

    DM1 &m_dm;
    ConnectionRegistry &m_registry;
    ReceptionSink &m_sink;
    const Clock &m_clock;
    GprsDirectory m_directory;
    DeviceRegistration m_registration;
};

} // namespace tulmo
