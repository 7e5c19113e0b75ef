#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace tulmo {

// One row of the RECEIVER table as the settings dialog edits it.
struct ReceiverConfig {
    static constexpr int kDefaultTime = 5; // seconds of reply delay, minutes of keep-alive
    static constexpr int kNoOutput = -1;

    // PORTA_COM as read: an empty column is COM1 for a serial receiver, as it always was, and
    // no event output for an IP receiver, whose output is off until configured.
    static int portaComOf(const QVariant &column, int modo);

    int receiver = 0;
    QString nome;
    int modo = 0; // 0 SERIAL, 1 TCP/IP, 2 UDP/IP
    bool ativo = false;
    bool sendsSms = false;
    // A serial receiver's line, or a TCP/IP receiver's event output: 0 "COM1" … 19 "COM20".
    // kNoOutput (or an empty column) on an IP receiver: its events are not repeated.
    int portaCom = 0;
    int baudsCom = 3; // index into 1200 … 115200; 3 is 9600
    int portaTcp = 3030;
    int portaUdp = 3030;
    int tempoResposta = kDefaultTime;
    int tempoKeepAlive = kDefaultTime;
};

// The receiver definitions in the database. Rows are walked by their number, which is also
// the slot that serves them.
class ReceiverTable {
public:
    static constexpr int kMaxReceivers = 10;

    explicit ReceiverTable(QSqlDatabase db)
        : m_db(std::move(db)) {}

    // Every row, by number; nullopt when the table cannot be read.
    std::optional<QList<ReceiverConfig>> all() const;
    // The row named nome. When several rows share the name, the one numbered posicao wins,
    // so that a node of the tree never opens another receiver's record.
    std::optional<ReceiverConfig> readByName(const QString &nome, int position) const;
    // A new receiver n: serial on "COM1" at 9600, inactive, ports 0, time-outs left empty.
    bool insert(int n, const QString &nome) const;
    bool remove(int id) const;
    // Numbers the rows 1 to n without gaps, keeping their order.
    bool renumber() const;
    // Writes r (with r.receiver as its new number) over the row numbered id.
    bool apply(const ReceiverConfig &r, int id) const;

private:
    bool insertRow(int n, const QString &nome) const;
    bool removeRow(int id) const;
    bool applyRow(const ReceiverConfig &r, int id) const;

    QSqlDatabase m_db;
};

} // namespace tulmo
