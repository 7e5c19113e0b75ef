#include "InstanciaUnica.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace tulmo {

namespace {
const QByteArray kPedido = QByteArrayLiteral("MOSTRAR\n");
constexpr int kEsperaMs = 1000;
} // namespace

InstanciaUnica::InstanciaUnica(QString nome, QObject *parent)
    : QObject(parent)
    , m_nome(std::move(nome)) {}

InstanciaUnica::~InstanciaUnica() = default;

bool InstanciaUnica::escutando() const {
    return m_servidor && m_servidor->isListening();
}

bool InstanciaUnica::primeira() {
    if (escutando()) return true;
    if (pedirParaMostrar()) return false;

    // Nobody answered: whatever socket file is left there belongs to a console that ended
    // without removing it.
    QLocalServer::removeServer(m_nome);
    m_servidor = new QLocalServer(this);
    m_servidor->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_servidor, &QLocalServer::newConnection, this, &InstanciaUnica::atender);
    if (m_servidor->listen(m_nome)) return true;

    // Another console started in the same instant and got the name first; when not even
    // that one answers, the socket cannot be used here and the console runs unguarded
    // rather than not at all.
    delete m_servidor;
    m_servidor = nullptr;
    return !pedirParaMostrar();
}

bool InstanciaUnica::pedirParaMostrar() {
    QLocalSocket socket;
    socket.connectToServer(m_nome);
    if (!socket.waitForConnected(kEsperaMs)) return false;
    socket.write(kPedido);
    socket.waitForBytesWritten(kEsperaMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kEsperaMs);
    return true;
}

void InstanciaUnica::atender() {
    while (QLocalSocket *socket = m_servidor->nextPendingConnection()) {
        // The asking console may be gone before its line is read; what it wrote is still
        // in the buffer then.
        auto ler = [this, socket] {
            while (socket->canReadLine())
                if (socket->readLine() == kPedido) emit mostrarPedido();
        };
        connect(socket, &QLocalSocket::readyRead, this, ler);
        connect(socket, &QLocalSocket::disconnected, this, [socket, ler] {
            ler();
            socket->deleteLater();
        });
    }
}

} // namespace tulmo
