#include "Conectados.h"

#include "common/Clock.h"
#include "reception/Data_Modulo2.h"
#include "common/DateFormats.h"

#include <QHostAddress>
#include <QHostInfo>

namespace tulmo {

namespace {
const char *const kTitulos[] = {"Keep Alive", "Conta",       "Ultimo Pacote", "Ultimo Evento",
                                "Servidor",   "IMEI",        "IP REMOTO",     "Socket",
                                "Conexão",    "Data Conexão"};
} // namespace

Conectados::Conectados(DM1 &dm, const Clock &clock, QObject *parent)
    : QAbstractTableModel(parent)
    , m_dm(dm)
    , m_clock(clock)
    , m_mux(new SocketMultiplexer(this)) {
    // SocketServer1Accept, shared by the ten listeners.
    for (int k = 1; k <= DM1::kSlots; ++k) {
        connect(m_dm.slot(k).socketServer, &TcpListener::conexaoRecebida, this,
                [this, k](qintptr descritor) { SocketServerAccept(k, descritor); });
    }
}

Conectados::~Conectados() = default;

int Conectados::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_linhas.size());
}

int Conectados::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QString Conectados::formatarData(const QDateTime &t) {
    return t.isValid() ? t.toString(DateFormats::kDateTime) : QString();
}

QVariant Conectados::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_linhas.size())
        return QVariant();
    const Linha &l = m_linhas[index.row()];
    switch (index.column()) {
    case ColKeepAlive:
        return formatarData(l.keepAlive);
    case ColConta:
        return l.conta;
    case ColUltimoPacote:
        return l.ultimoPacote;
    case ColUltimoEvento:
        return formatarData(l.ultimoEvento);
    case ColServidor:
        return QString::number(l.servidor);
    case ColImei:
        return l.imei;
    case ColIpRemoto:
        return l.ipRemoto;
    case ColSocket:
        return QString::number(l.socketIndex);
    case ColConexao:
        return QString::number(l.conexao);
    case ColDataConexao:
        return formatarData(l.dataConexao);
    default:
        return QVariant();
    }
}

QVariant Conectados::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColCount)
        return QVariant();
    return QString::fromUtf8(kTitulos[section]);
}

int Conectados::linhaDe(const TcpConnection *socket) const {
    if (!socket) return -1;
    const int r = m_indice.value(socket, -1);
    return r >= 0 && r < m_linhas.size() && m_linhas[r].socket == socket ? r : -1;
}

void Conectados::reindexar() {
    m_indice.clear();
    for (int r = 0; r < m_linhas.size(); ++r)
        if (TcpConnection *c = m_linhas[r].socket.data(); c && c->conectada()) m_indice.insert(c, r);
}

void Conectados::emitirLinha(int r) {
    emit dataChanged(index(r, 0), index(r, ColCount - 1));
}

void Conectados::setConta(int r, const QString &conta) {
    m_linhas[r].conta = conta;
    emitirLinha(r);
}
void Conectados::setImei(int r, const QString &imei) {
    m_linhas[r].imei = imei;
    emitirLinha(r);
}
void Conectados::setUltimoPacote(int r, const QString &pacote) {
    m_linhas[r].ultimoPacote = pacote;
    emitirLinha(r);
}
void Conectados::setKeepAlive(int r, const QDateTime &t) {
    m_linhas[r].keepAlive = t;
    emitirLinha(r);
}
void Conectados::setUltimoEvento(int r, const QDateTime &t) {
    m_linhas[r].ultimoEvento = t;
    emitirLinha(r);
}

QList<TcpConnection *> Conectados::conexoes(int k) const {
    if (k < 1 || k > DM1::kSlots) return {};
    return m_conexoes[size_t(k)];
}

int Conectados::totalConexoes() const {
    int n = 0;
    for (int k = 1; k <= DM1::kSlots; ++k)
        n += int(m_conexoes[size_t(k)].size());
    return n;
}

void Conectados::SocketServerAccept(int k, qintptr descritor) {
    auto *socket = new TcpConnection(descritor, *m_mux, this);
    if (!socket->conectada()) {
        delete socket;
        return;
    }
    auto &lista = m_conexoes[size_t(k)];
    lista.append(socket);
    // One read is one frame, never more than kMaxFrame; a client error or a close ends that
    // connection only, the listener and its other devices stay.
    connect(socket, &TcpConnection::dadosRecebidos, this,
            [this, socket, k](const QByteArray &frame) { emit frameRecebido(socket, k, frame); });
    connect(socket, &TcpConnection::desconectada, this,
            [this, socket, k] { conexaoEncerrada(socket, k); });

    const int n = int(lista.size());
    // The only connection of this listener: rows of its slot are left from connections
    // lost unnoticed.
    if (n == 1) {
        bool removed = false;
        for (int r = int(m_linhas.size()) - 1; r >= 0; --r) {
            if (m_linhas[r].servidor == k) {
                fechar(m_linhas[r].socket);
                beginRemoveRows(QModelIndex(), r, r);
                m_linhas.removeAt(r);
                endRemoveRows();
                removed = true;
            }
        }
        if (removed) {
            esvaziarRespostas();
            renumerar();
            reindexar();
        }
    }

    enviar(socket, QByteArrayLiteral("&"));

    const QHostAddress peer = socket->peerAddress();
    QString dotted = peer.toString();
    bool v4 = false;
    const quint32 ip4 = peer.toIPv4Address(&v4);
    if (v4) dotted = QHostAddress(ip4).toString();
    m_statusConexao = QStringLiteral("Connected to: ") + dotted;
    emit statusConexaoChanged(m_statusConexao);

    const QDateTime now = m_clock.now();
    Linha l;
    l.keepAlive = now;
    l.servidor = k;
    l.socketIndex = n - 1;
    l.conexao = socket->socketDescriptor();
    l.dataConexao = now;
    l.socket = socket;
    const int r = int(m_linhas.size());
    beginInsertRows(QModelIndex(), r, r);
    m_linhas.append(l);
    endInsertRows();
    m_indice.insert(socket, r);

    // The peer's name comes from the resolver's own threads; the row shows it when it
    // arrives and stays empty when the address has no name.
    QPointer<TcpConnection> guard(socket);
    QHostInfo::lookupHost(dotted, this, [this, guard, dotted](const QHostInfo &info) {
        if (!guard || info.error() != QHostInfo::NoError) return;
        const QString name = info.hostName();
        if (name.isEmpty() || name == dotted) return;
        const int row = linhaDe(guard.data());
        if (row < 0) return;
        m_linhas[row].ipRemoto = name;
        emitirLinha(row);
    });
    emit conexaoAceita(socket, k);
}

void Conectados::conexaoEncerrada(TcpConnection *socket, int k) {
    // The row stays until the keep-alive expiry; its pointer clears when the connection goes.
    m_conexoes[size_t(k)].removeOne(socket);
    m_indice.remove(socket);
    socket->deleteLater();
}

void Conectados::fechar(TcpConnection *socket) {
    if (socket) socket->abort();
}

bool Conectados::enviar(TcpConnection *socket, const QByteArray &texto) {
    return socket && socket->write(texto);
}

void Conectados::removerLinha(int r) {
    beginRemoveRows(QModelIndex(), r, r);
    m_linhas.removeAt(r);
    endRemoveRows();
    esvaziarRespostas();
    renumerar();
    reindexar();
}

void Conectados::renumerar() {
    for (int r = 0; r < m_linhas.size(); ++r) {
        if (m_linhas[r].socketIndex != r) {
            m_linhas[r].socketIndex = r;
            emit dataChanged(index(r, ColSocket), index(r, ColSocket));
        }
    }
}

int Conectados::removerConexaoAnterior(const QString &id, int r) {
    int anterior = -1;
    for (int i = 0; i < m_linhas.size(); ++i) {
        if (i != r && m_linhas[i].imei == id) {
            anterior = i;
            break;
        }
    }
    if (anterior < 0) return r;
    // The whole removal runs inside this handler, so no tick sees a half-updated table.
    QPointer<TcpConnection> velha = m_linhas[anterior].socket;
    fechar(velha);
    removerLinha(anterior);
    return anterior < r ? r - 1 : r;
}

void Conectados::enfileirarResposta(const QString &texto, int indice, int slot, const QString &id,
                                    TcpConnection *socket, const QDateTime &now) {
    m_respostas.append({texto, indice, now, slot, id, socket});
}

void Conectados::esvaziarRespostas() {
    m_respostas.clear();
    m_cursor = 0;
}

void Conectados::enviarRespostaDevida(const QDateTime &now) {
    if (m_respostas.isEmpty()) return;
    if (m_cursor >= m_respostas.size()) m_cursor = 0;
    const Resposta &resp = m_respostas[m_cursor];
    const int tempo = m_dm.slotValido(resp.slot) ? m_dm.slot(resp.slot).tempoResposta : 0;
    // The whole time since queueing counts, hours included.
    if (resp.hora.secsTo(now) < tempo) return;
    if (!resp.identificador.isEmpty()) {
        TcpConnection *alvo = resp.socket.data();
        for (int r = 0; r < m_linhas.size(); ++r) {
            if (m_linhas[r].imei == resp.identificador) {
                alvo = m_linhas[r].socket.data();
                if (m_linhas[r].socketIndex != r) {
                    m_linhas[r].socketIndex = r;
                    emit dataChanged(index(r, ColSocket), index(r, ColSocket));
                }
                break;
            }
        }
        enviar(alvo, resp.texto.toLatin1());
    }
    ++m_cursor;
    if (m_cursor >= m_respostas.size()) esvaziarRespostas();
}

void Conectados::expirarConexaoSilenciosa(const QDateTime &now) {
    if (now.time().second() == 0) return;
    for (int r = 0; r < m_linhas.size(); ++r) {
        const Linha &l = m_linhas[r];
        if (!l.keepAlive.isValid()) continue;
        const int keepAlive =
            m_dm.slotValido(l.servidor) ? m_dm.slot(l.servidor).tempoKeepAlive : 0;
        // Whole minutes of silence, hours and days included.
        if (l.keepAlive.secsTo(now) / 60 >= keepAlive) {
            QPointer<TcpConnection> s = l.socket;
            fechar(s);
            removerLinha(r);
            return;
        }
    }
}

void Conectados::mostrarContagem() {
    const QString texto = QStringLiteral("Conexoes TCP/IP: ") + QString::number(totalConexoes());
    if (texto != m_textoConexoes) {
        m_textoConexoes = texto;
        emit textoConexoesChanged(texto);
    }
}

} // namespace tulmo
