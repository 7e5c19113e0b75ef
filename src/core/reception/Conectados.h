#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>

#include <array>

#include "reception/SocketMultiplexer.h"
#include "reception/TcpConnection.h"

namespace tulmo {

class Clock;
class DM1;

// The connected devices (Grid_Conectados): one row per accepted TCP connection, in order of
// acceptance, and the delayed replies to them (Grid_Buffer).
//
// Each row keeps its own connection: replies, removals and the remote access console reach
// the socket of that row, whatever the row's position. The "Socket" column still shows the
// connection index as operators know it (the position in the listener's connections at
// acceptance, renumbered to the row position after rows are removed).
class Conectados : public QAbstractTableModel {
    Q_OBJECT
    Q_PROPERTY(QString statusConexao READ statusConexao NOTIFY statusConexaoChanged)
    Q_PROPERTY(QString textoConexoes READ textoConexoes NOTIFY textoConexoesChanged)
public:
    enum Column {
        ColKeepAlive = 0,
        ColConta,
        ColUltimoPacote,
        ColUltimoEvento,
        ColServidor,
        ColImei,
        ColIpRemoto,
        ColSocket,
        ColConexao,
        ColDataConexao,
        ColCount
    };

    // One accepted connection.
    struct Linha {
        QDateTime keepAlive;    // last sign of life
        QString conta;          // account or device caption
        QString ultimoPacote;   // last packet mark, for repeat detection
        QDateTime ultimoEvento; // last event handed on
        int servidor = 0;       // slot of the listener
        QString imei;           // device identifier, empty until identified
        QString ipRemoto;       // peer host name (empty when it has none)
        int socketIndex = 0;    // connection index shown in "Socket"
        qintptr conexao = -1;   // socket handle at acceptance
        QDateTime dataConexao;  // time of acceptance
        QPointer<TcpConnection> socket;
    };

    // One delayed reply.
    struct Resposta {
        QString texto;
        int indice = 0; // connection index at the time of queueing
        QDateTime hora; // time of queueing
        int slot = 0;
        QString identificador;
        QPointer<TcpConnection> socket; // the connection it was queued for
    };

    // What one connection may hold unread; each read takes at most this much as one frame.
    static constexpr qint64 kMaxFrame = TcpConnection::kMaxLeitura;

    Conectados(DM1 &dm, const Clock &clock, QObject *parent = nullptr);
    ~Conectados() override;

    // The table model of Grid_Conectados.
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    static QString formatarData(const QDateTime &t);

    const QList<Linha> &linhas() const { return m_linhas; }
    const Linha &linha(int r) const { return m_linhas[r]; }
    // The row of a connection (the last one when several match), or -1.
    int linhaDe(const TcpConnection *socket) const;
    // Changes to a row's fields by the device link.
    void setConta(int r, const QString &conta);
    void setImei(int r, const QString &imei);
    void setUltimoPacote(int r, const QString &pacote);
    void setKeepAlive(int r, const QDateTime &t);
    void setUltimoEvento(int r, const QDateTime &t);

    // Closes the connection of an earlier row of the same device (first row other than r
    // whose IMEI is id) and removes that row. Returns r adjusted to the row's new position.
    int removerConexaoAnterior(const QString &id, int r);

    // The connections of slot k still open, in order of acceptance.
    QList<TcpConnection *> conexoes(int k) const;
    int totalConexoes() const;

    // ReplyQueue.
    void enfileirarResposta(const QString &texto, int indice, int slot, const QString &id,
                            TcpConnection *socket, const QDateTime &now);
    const QList<Resposta> &respostas() const { return m_respostas; }
    int replyCursor() const { return m_cursor; }
    void esvaziarRespostas();

    // Sends text at once to a connection; false when it is gone.
    bool enviar(TcpConnection *socket, const QByteArray &texto);

    // Timed duties of the one-second driver, each given the current time.
    void enviarRespostaDevida(const QDateTime &now);
    void expirarConexaoSilenciosa(const QDateTime &now);
    // "Conexoes TCP/IP: " and the open connections of all listeners (status bar panel 1).
    void mostrarContagem();

    QString statusConexao() const { return m_statusConexao; }
    QString textoConexoes() const { return m_textoConexoes; }

signals:
    // Panel 0 of the status bar: "Connected to: " and the peer's address.
    void statusConexaoChanged(const QString &texto);
    void textoConexoesChanged(const QString &texto);
    // One read of a connection: one frame for the device link.
    void frameRecebido(TcpConnection *socket, int slot, const QByteArray &frame);
    // A connection was accepted and its row appended.
    void conexaoAceita(TcpConnection *socket, int slot);

private:
    void SocketServerAccept(int k, qintptr descritor);
    void conexaoEncerrada(TcpConnection *socket, int k);
    void removerLinha(int r);
    void renumerar();
    void reindexar();
    void emitirLinha(int r);
    static void fechar(TcpConnection *socket);

    DM1 &m_dm;
    const Clock &m_clock;
    SocketMultiplexer *m_mux;
    QList<Linha> m_linhas;
    QHash<const TcpConnection *, int> m_indice; // row of each open connection
    QList<Resposta> m_respostas;
    int m_cursor = 0;                               // ReplyCursor, counted from 0 over m_respostas
    std::array<QList<TcpConnection *>, 11> m_conexoes; // per slot, index 0 unused
    QString m_statusConexao;
    QString m_textoConexoes;
};

} // namespace tulmo
