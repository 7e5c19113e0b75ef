#include "DeviceLink.h"

#include "core/common/Fields.h"
#include "core/common/Clock.h"
#include "core/events/ReceiverFrame.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Dc09Receiver.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/ReceptionSink.h"

namespace tulmo {

namespace {
// Why a frame's line is not acknowledged, or an empty text when it is in the queue. Only a
// line that is queued, and that the recorder can store, is acknowledged: a frame that makes no
// event, that could not be queued or whose line could never be stored gets no answer, and the
// device sends it again.
QString whyNotQueued(ReceptionSink::QueueResult e) {
    switch (e) {
    case ReceptionSink::QueueResult::Queued: return QString();
    case ReceptionSink::QueueResult::NoEvent: return QStringLiteral("quadro sem evento");
    case ReceptionSink::QueueResult::Failed:
        return QStringLiteral("não foi possível gravar a fila de eventos");
    case ReceptionSink::QueueResult::Refused:
        return QStringLiteral("evento que não pode ser gravado");
    }
    return QStringLiteral("quadro sem evento");
}
} // namespace

DeviceLink::DeviceLink(DM1 &dm, Database &database, ConnectionRegistry &registry,
                       ReceptionSink &sink, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_registry(registry)
    , m_sink(sink)
    , m_clock(clock)
    , m_directory(database)
    , m_registration(database, m_directory) {
    qRegisterMetaType<TcpConnection *>();
    connect(&m_registry, &ConnectionRegistry::frameReceived, this,
            [this](TcpConnection *socket, int k, const QByteArray &frame) {
                Decodifica_TCP(frame, socket, k);
            });
}

QString DeviceLink::deviceCaption(const QString &codigo) {
    if (codigo == QLatin1String("00")) return QStringLiteral("Receiver LX-ORB Conta:");
    if (codigo == QLatin1String("01")) return QStringLiteral("Receiver Tavel-8 Conta:");
    if (codigo == QLatin1String("02")) return QStringLiteral("Módulo QVN-12 Conta:");
    if (codigo == QLatin1String("05")) return QStringLiteral("Receiver Mirel-8 Conta:");
    if (codigo == QLatin1String("06")) return QStringLiteral("Painel Alarme KX4 Conta:");
    return QString();
}

void DeviceLink::Decodifica_TCP(const QByteArray &bytes, TcpConnection *socket, int k) {
    if (!m_dm.validSlot(k)) return;
    // The other devices of a slot whose module exchange runs are decoded as usual, DC-09 too.
    if (Dc09Receiver::looksLikeDc09(bytes) && !m_dm.slot(k).inTransfer(socket)) {
        emit dc09Received(socket, k, bytes); // SIA DC-09 has its own receiver
        return;
    }
    // Bytes map one to one onto characters, so positions are byte positions.
    const QString D = QString::fromLatin1(bytes);
    const QString handle = socket ? QString::number(socket->socketDescriptor()) : QString();
    m_dm.portMonitor().append(k, QStringLiteral("TCP ") + handle + QLatin1Char(',') +
                             QString::number(k) + QLatin1Char(':') + D);
    m_dm.memo1().append(D);
    if (takenByModuleTransfer(bytes, D, socket, k)) return;

    int r = m_registry.rowOf(socket);
    if (r < 0) return;
    const QDateTime now = m_clock.now();
    const TcpFrameKind kind = classifyTcpFrame(D);
    // Identification comes before the keep-alive mark, which needs the device named.
    if (kind == TcpFrameKind::Identification) {
        identify(D, socket, k, r);
        if (r < 0) return;
    } else if (kind == TcpFrameKind::ChannelReading) {
        emit channelReading(k, bytes, socket);
    }
    // "@" at 1 or at 16 marks a sign of life, of an identified device only.
    if (field::charAt(D, 16) == QLatin1Char('@') || field::charAt(D, 1) == QLatin1Char('@')) {
        if (m_registry.row(r).imei.isEmpty()) return;
        m_registry.setKeepAlive(r, now);
    }
    switch (kind) {
    case TcpFrameKind::ReceiverEvent: return receiverEvent(D, r, k, handle, now);
    case TcpFrameKind::Packet: return packet(D, r, k, handle, now);
    case TcpFrameKind::ShortEvent: return shortEvent(D, r, k, handle, now);
    case TcpFrameKind::Identification:
    case TcpFrameKind::ChannelReading:
    case TcpFrameKind::Other: return;
    }
}

DeviceLink::TcpFrameKind DeviceLink::classifyTcpFrame(const QString &D) {
    const qsizetype n = D.size();
    const QChar d1 = field::charAt(D, 1);
    if ((d1 == QLatin1Char('&') || d1 == QLatin1Char('!')) && n >= 13)
        return TcpFrameKind::Identification;
    if (D.startsWith(QLatin1String("#$"))) return TcpFrameKind::ChannelReading;
    if (d1 == QLatin1Char('1') || d1 == QLatin1Char('5')) return TcpFrameKind::ReceiverEvent;
    if (d1 == QLatin1Char('$') && n >= 18) return TcpFrameKind::Packet;
    if (d1 == QLatin1Char('$') && (n == 16 || n == 17)) return TcpFrameKind::ShortEvent;
    return TcpFrameKind::Other;
}

// A receiver frame (format 1 or 5): "+OK" through the reply queue once its line is durable;
// with "@" at 16 it is a heartbeat, answered but not handed on.
void DeviceLink::receiverEvent(const QString &D, int r, int k, const QString &handle,
                               const QDateTime &now) {
    const ConnectionRegistry::Row l = m_registry.row(r);
    if (l.imei.isEmpty()) return;
    m_registry.setKeepAlive(r, now);
    if (field::charAt(D, 16) != QLatin1Char('@')) {
        // The device repeats what is not acknowledged: no "+OK" for less than a whole
        // event, nor until its line is durable (the reply is queued only then).
        if (!queued(D, handle, k)) return;
        m_registry.setLastEvent(r, now);
    }
    m_sink.queueRepeater(k, D);
    replyWhenDurable(QStringLiteral("+OK"), l.socketIndex, k, l.imei, l.socket, now, handle);
}

// "$", a packet number and the event: "+<packet>S" once its line is durable. A repeated packet
// is acknowledged again but not handed on. A packet whose line is lost with a failed write is
// not taken for a repeat when it comes again.
void DeviceLink::packet(const QString &D, int r, int k, const QString &handle,
                        const QDateTime &now) {
    const QString pacote = field::span(D, 2, 3);
    const ConnectionRegistry::Row l = m_registry.row(r);
    const QString reply = QStringLiteral("+") + pacote + QStringLiteral("S");
    const bool fresh = l.lastPacket != pacote;
    if (fresh) {
        const QString msg =
            QStringLiteral("5011 18") + field::span(D, 4, 7) + field::span(D, 10, 18);
        if (!queued(msg, handle, k)) return;
        m_registry.setAccount(r, field::span(D, 4, 7));
        m_registry.setLastPacket(r, pacote);
        m_registry.setLastEvent(r, now);
        m_registry.setKeepAlive(r, now);
    }
    replyWhenDurable(reply, r, k, l.imei, l.socket, now, handle,
                     fresh ? forgetPacket(l.socket, pacote, l.lastPacket) : nullptr);
}

// "$" and 15 characters: an event answered "@" at once, not through the reply queue, once its
// line is durable. A repeat of the last one is answered again but not handed on.
void DeviceLink::shortEvent(const QString &D, int r, int k, const QString &handle,
                            const QDateTime &now) {
    const QString box = field::span(D, 1, 15);
    const ConnectionRegistry::Row l = m_registry.row(r);
    const bool fresh = l.lastPacket != box;
    if (fresh) {
        const QString msg = QStringLiteral("5011 18") + field::span(D, 2, 14);
        if (!queued(msg, handle, k)) return;
        m_registry.setLastPacket(r, box);
        m_registry.setLastEvent(r, now);
        m_registry.setKeepAlive(r, now);
    }
    const QPointer<DeviceLink> self(this);
    const QPointer<TcpConnection> to = l.socket;
    std::function<void()> forget = fresh ? forgetPacket(l.socket, box, l.lastPacket) : nullptr;
    m_sink.whenDurable([self, to, handle, k, forget](bool durable) {
        if (!self) return;
        if (durable) {
            self->m_registry.send(to.data(), QByteArrayLiteral("@"));
            return;
        }
        self->notAcknowledged(handle, k, whyNotQueued(ReceptionSink::QueueResult::Failed));
        if (forget) forget();
    });
}

void DeviceLink::replyWhenDurable(const QString &text, int connectionIndex, int k,
                                  const QString &id, const QPointer<TcpConnection> &socket,
                                  const QDateTime &now, const QString &handle,
                                  std::function<void()> onFailure) {
    const QPointer<DeviceLink> self(this);
    // Every answer waits for the same flushes, so a device's answers keep their order.
    m_sink.whenDurable([=](bool durable) {
        if (!self) return;
        if (durable || handle.isEmpty()) {
            self->m_registry.replies().enqueue(text, connectionIndex, k, id, socket.data(), now);
            return;
        }
        self->notAcknowledged(handle, k, whyNotQueued(ReceptionSink::QueueResult::Failed));
        if (onFailure) onFailure();
    });
}

std::function<void()> DeviceLink::forgetPacket(const QPointer<TcpConnection> &socket,
                                               const QString &packet, const QString &before) {
    const QPointer<DeviceLink> self(this);
    return [self, socket, packet, before] {
        if (!self) return;
        const int row = self->m_registry.rowOf(socket.data());
        if (row >= 0 && self->m_registry.row(row).lastPacket == packet)
            self->m_registry.setLastPacket(row, before);
    };
}

void DeviceLink::notAcknowledged(const QString &handle, int k, const QString &why) {
    m_dm.portMonitor().append(QStringLiteral("TCP ") + handle + QLatin1Char(',') +
                              QString::number(k) + QStringLiteral(": sem confirmação: ") + why);
}

bool DeviceLink::queued(const QString &frame, const QString &handle, int k) {
    QString why;
    if (receiverframe::shapeOf(receiverframe::withoutEnd(frame.toLatin1()), &why) ==
        receiverframe::Shape::Event) {
        why = whyNotQueued(m_sink.stageEvent(frame));
        if (why.isEmpty()) return true;
    }
    notAcknowledged(handle, k, why);
    return false;
}

bool DeviceLink::takenByModuleTransfer(const QByteArray &bytes, const QString &D,
                                       TcpConnection *socket, int k) {
    ReceiverSlot &slot = m_dm.slot(k);
    // Only the device the exchange talks to answers it: the others of the slot are decoded and
    // answered as usual meanwhile.
    if (!slot.inTransfer(socket)) return false;
    if (slot.dumpPending) {
        // A block may come in several reads: the exchange gathers them and ends the capture.
        emit dumpReceived(k, bytes, QString::fromLatin1(bytes.toHex().toUpper()));
        return true;
    }
    if (D == QLatin1String("UPE")) {
        emit uploadAllowed(k, socket);
    } else if (D == QLatin1String("UPOK")) {
        slot.uploadPending = 0;
        emit uploadDone(k);
    }
    // Anything else from the module during an upload is not part of the exchange.
    return true;
}

void DeviceLink::identify(const QString &D, TcpConnection *socket, int k, int &r) {
    const bool zelta = field::charAt(D, 1) == QLatin1Char('!');
    const QString id = zelta ? field::span(D, 1, 6) : field::span(D, 4, 9);
    // Only what a module sends names a device: other bytes register nothing and identify
    // nobody, and the connection is closed once its time to identify has passed.
    const QString invalid = DeviceRegistration::invalidIdentification(
        D.left(DeviceRegistration::kIdentificationLength), id);
    if (!invalid.isEmpty()) {
        m_dm.portMonitor().append(
            QStringLiteral("Receiver %1: identificação recusada: %2").arg(k).arg(invalid));
        r = -1;
        return;
    }
    r = m_registry.removeEarlierConnection(id, r);

    const QString codigo = field::span(D, 2, 3);
    const QString conta = field::span(D, 10, 13);
    if (zelta) {
        m_registry.setAccount(r, QStringLiteral("Zelta 20 GPRS"));
    } else {
        const QString legend = deviceCaption(codigo);
        if (!legend.isEmpty()) m_registry.setAccount(r, legend + conta);
    }
    m_registry.setImei(r, id);
    QString reply = QStringLiteral("P");

    const DeviceRegistration::Known known = m_registration.lookUp(id);
    const QDateTime now = m_clock.now();
    using Kind = DeviceRegistration::Known::Kind;
    if (known.kind == Kind::Failed) {
        r = -1; // a database failure ends the handling of this frame
        return;
    }
    if (known.kind == Kind::Active) {
        reply = known.blocked ? QStringLiteral("-") : QStringLiteral("+");
        if (!zelta) {
            // No line of its own, but in order with the device's other answers.
            const ConnectionRegistry::Row &l = m_registry.row(r);
            replyWhenDurable(reply, l.socketIndex, k, id, l.socket, now, QString());
        }
    } else if (known.kind == Kind::Unknown && !registerUnknown(id, conta, codigo, socket, k)) {
        r = -1;
        return;
    }
    if (zelta) {
        const QPointer<DeviceLink> self(this);
        const QPointer<TcpConnection> to(socket);
        const QByteArray bytes = reply.toLatin1();
        m_sink.whenDurable([self, to, bytes](bool) {
            if (self) self->m_registry.send(to.data(), bytes);
        });
    }
}

bool DeviceLink::registerUnknown(const QString &id, const QString &conta, const QString &codigo,
                                 TcpConnection *socket, int k) {
    const QString source =
        DeviceRegistration::sourceOf(socket ? socket->peerAddress() : QHostAddress());
    const DeviceRegistration::Result result =
        m_registration.registerPending(id, conta, codigo, source, m_clock.now());
    // Held back by a bound, the module stays unregistered; it asks again when it reconnects.
    const QString held =
        QStringLiteral("Receiver %1: módulo \"%2\" não registrado: ").arg(k).arg(id);
    switch (result.outcome) {
    case DeviceRegistration::Outcome::Registered:
        emit deviceRegistered(id);
        return true;
    case DeviceRegistration::Outcome::AddressFull:
        m_dm.portMonitor().append(held +
                                  QStringLiteral("%1 já registrou %2 módulos novos na última hora")
                                      .arg(source)
                                      .arg(result.count));
        return true;
    case DeviceRegistration::Outcome::TableFull:
        m_dm.portMonitor().append(
            held +
            QStringLiteral("o Cadastro de GPRS já tem %1 módulos pendentes").arg(result.count));
        return true;
    case DeviceRegistration::Outcome::Failed:
        break;
    }
    return false;
}

} // namespace tulmo
