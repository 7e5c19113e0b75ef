#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

namespace tulmo {

class EventRecorder;

// The supervision's alerts of a station on a server. The workstation that receives raises
// them; it also writes each one to the database, and every other workstation shows, on the
// database's event, the ones written after it last looked. An alert is shown once on each
// workstation: what was written before a workstation started, or while it received itself,
// is not shown again.
class SharedAlerts : public QObject {
    Q_OBJECT
public:
    enum Kind { Rearm = 1, Inactivity = 2 };

    SharedAlerts(EventRecorder &recorder, QString station, QObject *parent = nullptr);

    // An alert raised here, written at the next flush.
    void post(Kind kind, const QString &text, const QDateTime &at);
    // Writes what was posted, in one transaction on the recorder's thread; kept while the
    // database cannot take it. Alerts of more than a day are removed now and then.
    void flush(const QDateTime &now);
    // Reads the alerts written after the last one seen, and tells each one.
    void readNew();
    // This workstation receives from now on, and raises the alerts itself; when it stops,
    // it looks again from what is written then.
    void setReceiving(bool receiving);

    int waiting() const { return int(m_posted.size()); }

signals:
    void alert(int kind, const QString &text);

private:
    struct Posted {
        int kind;
        QString text;
        QDateTime at;
    };
    EventRecorder &m_recorder;
    QString m_station;
    QList<Posted> m_posted;
    bool m_writing = false;
    bool m_reading = false;
    bool m_readAgain = false;
    bool m_receiving = false;
    qint64 m_last = -1; // the last alert seen; -1: not known yet
    int m_flushes = 0;
};

} // namespace tulmo
