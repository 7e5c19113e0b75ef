#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tulmo {

namespace {
const QByteArray kPedido = QByteArrayLiteral("MOSTRAR\n");
constexpr int kEsperaMs = 1000;

QString enderecoDe(const QString &nome) {
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QLatin1Char('/') + nome;
    // The shared temporary folder: the user's number keeps sessions of different users apart.
    return QDir::tempPath() + QLatin1Char('/') + nome + QLatin1Char('-') +
           QString::number(::getuid());
#else
    return nome;
#endif
}
} // namespace

SingleInstance::SingleInstance(QString nome, QObject *parent)
    : QObject(parent)
    , m_endereco(enderecoDe(nome)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::escutando() const {
    return m_servidor && m_servidor->isListening();
}

bool SingleInstance::conectar(QLocalSocket &socket) const {
    socket.connectToServer(m_endereco);
    return socket.waitForConnected(kEsperaMs);
}

bool SingleInstance::primeira() {
    if (escutando()) return true;
    {
        QLocalSocket outra;
        if (conectar(outra)) return false;
    }

    // Nobody answered: whatever socket file is left there belongs to a console that ended
    // without removing it.
    QLocalServer::removeServer(m_endereco);
    m_servidor = new QLocalServer(this);
    m_servidor->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_servidor, &QLocalServer::newConnection, this, &SingleInstance::atender);
    if (m_servidor->listen(m_endereco)) return true;

    // Another console started in the same instant and got the name first; when not even
    // that one answers, the socket cannot be used here and the console runs unguarded
    // rather than not at all.
    delete m_servidor;
    m_servidor = nullptr;
    QLocalSocket outra;
    return !conectar(outra);
}

bool SingleInstance::mostrarPrimeira() {
    if (escutando()) return false;
    QLocalSocket socket;
    if (!conectar(socket)) return false;
    socket.write(kPedido);
    const bool enviado = socket.waitForBytesWritten(kEsperaMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kEsperaMs);
    return enviado;
}

void SingleInstance::atender() {
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
