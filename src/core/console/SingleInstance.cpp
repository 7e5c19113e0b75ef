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
const QByteArray kRequest = QByteArrayLiteral("MOSTRAR\n");
constexpr int kWaitMs = 1000;

QString addressOf(const QString &nome) {
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
    , m_address(addressOf(nome)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::listening() const {
    return m_server && m_server->isListening();
}

bool SingleInstance::connectTo(QLocalSocket &socket) const {
    socket.connectToServer(m_address);
    return socket.waitForConnected(kWaitMs);
}

bool SingleInstance::tryBecomeFirst() {
    if (listening()) return true;
    {
        QLocalSocket other;
        if (connectTo(other)) return false;
    }

    // Nobody answered: whatever socket file is left there belongs to a console that ended
    // without removing it.
    QLocalServer::removeServer(m_address);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::serveRequest);
    if (m_server->listen(m_address)) return true;

    // Another console started in the same instant and got the name first; when not even
    // that one answers, the socket cannot be used here and the console runs unguarded
    // rather than not at all.
    delete m_server;
    m_server = nullptr;
    QLocalSocket other;
    return !connectTo(other);
}

bool SingleInstance::askFirstToShow() {
    if (listening()) return false;
    QLocalSocket socket;
    if (!connectTo(socket)) return false;
    socket.write(kRequest);
    const bool wasSent = socket.waitForBytesWritten(kWaitMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWaitMs);
    return wasSent;
}

void SingleInstance::serveRequest() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // The asking console may be gone before its line is read; what it wrote is still
        // in the buffer then.
        auto readRequest = [this, socket] {
            while (socket->canReadLine())
                if (socket->readLine() == kRequest) emit showRequested();
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequest);
        connect(socket, &QLocalSocket::disconnected, this, [socket, readRequest] {
            readRequest();
            socket->deleteLater();
        });
    }
}

} // namespace tulmo
