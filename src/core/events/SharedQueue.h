#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace tulmo {

class Database;
class EventQueue;
class RecordingWorker;

// On a station of several workstations, the event lines of this process's queue are also
// committed to FILA_EVENTOS in the shared database before their devices are answered, so that
// nothing acknowledged lives only on this machine: a standby records what a dead holder left.
// The lines go on a thread and connection of their own, the ones that arrive while a commit
// runs sharing the next (group commit), numbered as the local queue numbers them.
//
// While the server cannot be reached the lines are answered from the local file alone, as on
// one workstation; once it is back they are sent, in order, before anything newer.
class SharedQueue : public QObject {
    Q_OBJECT
public:
    // table: FILA_EVENTOS for the event lines, FILA_REPETIDORA for the repeater's frames.
    SharedQueue(Database &database, EventQueue &local, QString station,
                QString table = QStringLiteral("FILA_EVENTOS"), QObject *parent = nullptr);
    ~SharedQueue() override;

    // Calls done once every line of the local queue that is on its disk now is committed to the
    // server as well, or at once (true) while the server cannot be reached.
    void whenShared(std::function<void(bool)> done);
    // Sends the durable lines the server does not hold yet (a tick catches up this way). A
    // commit that has not come back within two seconds counts as a server out of reach.
    void push();
    // A process that does not record: its lines leave the local queue once on the server,
    // where the holder takes them.
    void setReleasesShared(bool releases) { m_releases = releases; }
    // The repeater's frames leave its queue once forwarded, not recorded: with this, each
    // commit also removes from the server the rows of this queue that left its head.
    void setRemovesLeft(bool removes) { m_removesLeft = removes; }
    // Where reception is now held, the rows the server holds and this queue does not (another
    // workstation's, or this one's from before it last gave reception up) are taken into it, a
    // chunk at a time: staged here, then, once on this disk, removed from the server with a
    // mark that keeps their first queue from sending them back. A stop in between hands a
    // frame on twice rather than never. On this queue's own thread and connection: the
    // recording and the lease never wait for it, however many rows there are. Ends with
    // setRemovesLeft(true); wanted says whether reception is still held here.
    void adoptLeft(std::function<bool()> wanted);
    // Whether the last attempt could not reach the server, and the status bar's text then.
    bool offline() const { return m_offline; }
    QString offlineText() const;
    // Tests and the service's stop: waits for the commit in flight.
    void finish();

signals:
    void offlineChanged();

private:
    struct Waiter {
        qint64 through;
        std::function<void(bool)> done;
    };
    void sent(qint64 through, bool ok);
    void adoptFrom(qint64 head, std::function<bool()> wanted);
    void removeAdopted(qint64 head, QList<std::pair<QString, qint64>> keys,
                       std::function<bool()> wanted);
    static constexpr int kAdoptChunk = 1000;
    void takeRecorded();
    void answer();

    EventQueue &m_local;
    const QString m_station;
    std::unique_ptr<RecordingWorker> m_worker;
    qint64 m_pushed = -1;   // lines numbered up to this are on the server
    qint64 m_sending = -1;  // the commit in flight covers lines up to this
    bool m_inFlight = false;
    QElapsedTimer m_sendStarted;
    static constexpr int kStallMs = 2000;
    bool m_offline = false;
    bool m_releases = false;
    bool m_removesLeft = false;
    qint64 m_removedBelow = -1; // the server holds no row of this queue numbered below this
    const QString m_table;
    QList<Waiter> m_waiters;
};

} // namespace tulmo
