#pragma once

#include "events/EventLine.h"

#include <QObject>
#include <QString>

namespace tulmo {

class Database;
class Clock;
class SoundOutput;
class SlotWriter;

// The outcome of recording one event line.
struct RecordResult {
    enum class Status {
        Ignored,  // 10 characters or fewer: nothing to record
        Stored,   // the EVENTOS row is committed
        Rejected, // the line can never be stored: reason says why
        Retry,    // the database's own trouble (unreachable, a conflict, a failed commit):
                  // try the same line again later
    };
    Status status = Status::Ignored;
    QString reason;
    // The schedule warning to show once the event is stored ("Cliente … Entrou fora do horário").
    QString warning;
};

// Turns one event line into a row of EVENTOS: looks the account, the code, the partition
// and the zone or user up, keeps the account's supervision columns, classifies the event and
// stores it, all in one transaction. Only once that is committed does it play the event's
// sound, send its SMS and announce the changed lists, so a line that is turned away or tried
// again later plays and sends nothing, and plays and sends once when it is finally stored.
class EventRecorder : public QObject {
    Q_OBJECT
public:
    EventRecorder(Database &database, const Clock &clock, SoundOutput *sound, SlotWriter *slotWriter,
                  QObject *parent = nullptr);

    RecordResult Grava_Evento_Banco_Dados(const QString &line);

    // "SMS:" + mobile + "," + description + " " + partition, NUL-filled to 257 bytes.
    static QByteArray smsCommand(const QString &celular, const QString &descricao,
                                 const QString &nomeParticao);
    // Weekday codes of the arming schedule, Sunday first.
    static QString weekdayCode(const QDate &d);

signals:
    void silentChanged(); // ULTIMO_EVENTO / EVENTO_ATRASADO touched
    void disarmedChanged();
    void awaitingArmChanged();
    void pendingRecorded(); // an event stored as pending (TRATADO = 0)
    void receivedChanged();   // an event stored: reopen the received-events list

private:
    Database &m_database;
    const Clock &m_clock;
    SoundOutput *m_sound;
    SlotWriter *m_slots;
};

} // namespace tulmo
