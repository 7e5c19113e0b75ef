#pragma once

#include "core/settings/ConfigIni.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace tulmo {

class EventRecorder;

// Who holds reception on a station of several workstations sharing one database. Reception
// (receivers, devices, DC-09, recording, supervision, the repeater) is held by one process at
// a time, by the lease row RECEPCAO_ATIVA: its epoch names the holding, its counter moves at
// every renewal. The holder renews it every second, and every recording commit confirms it in
// its own transaction. A standby watches the row and takes reception once it has seen it
// unchanged for the takeover time (its own clock measures, so the clocks of the machines need
// not agree, and a server that was down for a while is no reason to take over). A holder that
// has not managed to renew for all but two seconds of that time gives reception up before a
// standby could take it, so two processes never receive at once.
//
// Every database statement runs on the recorder's thread, in order with the recordings: a
// server that does not answer holds no event loop.
class ReceptionLease : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Viewer,  // shows and treats; never receives
        Standby, // waits to take reception
        Holder,  // receives
    };

    ReceptionLease(EventRecorder &recorder, StationSettings station, QObject *parent = nullptr);

    // Takes part as a holder or standby (takesPart), or only follows who receives.
    void start(bool takesPart);
    // The one-second step: renews, watches or takes over.
    void tick();
    // The lease's holder changed (a database event): who receives is read again now.
    void readAgain();
    // Gives reception up (the process stops): the row is left to go stale.
    void stop();

    Role role() const { return m_role; }
    qint64 epoch() const { return m_epoch; }
    const StationSettings &station() const { return m_station; }
    // The workstation that receives, and since when; empty while none has yet.
    const QString &holder() const { return m_holder; }
    const QDateTime &holderSince() const { return m_since; }
    // "Recepção: <estação> desde <data hora>", or why nobody receives.
    QString statusText() const;

    // The lease's row as read.
    struct LeaseRow {
        QString estacao;
        qint64 epoch = 0;
        qint64 counter = 0;
        QDateTime since;
    };

    // Tests: the takeover time in milliseconds instead of the station's seconds.
    void setTakeoverMs(int ms) { m_takeoverMs = ms; }

signals:
    // This process now holds reception (open the receivers, take what the last holder left);
    // previous is the workstation that held it before, empty on a new database.
    void acquired(const QString &previous);
    // This process no longer holds it (close the receivers and the devices' connections).
    void released(const QString &why);
    // Another workstation took reception over from the one before it.
    void takenOver(const QString &station, const QDateTime &at);
    void statusChanged();

private:
    void postRead();
    void postRenew();
    void postTakeover(qint64 epoch, qint64 counter);
    void seen(const LeaseRow &row);
    void lose(const QString &why);
    int giveUpMs() const { return m_takeoverMs - 2000; }

    EventRecorder &m_recorder;
    StationSettings m_station;
    Role m_role = Role::Viewer;
    bool m_started = false;
    bool m_inFlight = false;
    int m_viewerTicks = 0;
    int m_takeoverMs;
    qint64 m_epoch = -1;            // the holding's epoch, while holder
    QElapsedTimer m_confirmed;      // started when the last renewal that succeeded was sent
    // The row as last seen, and since when it has not moved (standby).
    qint64 m_seenEpoch = -1;
    qint64 m_seenCounter = -1;
    QElapsedTimer m_unchanged;
    QString m_holder;
    QDateTime m_since;
};

} // namespace tulmo
