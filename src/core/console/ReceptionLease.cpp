#include "ReceptionLease.h"

#include "core/common/DateFormats.h"
#include "core/events/EventRecorder.h"
#include "core/events/RecordingWorker.h"
#include "core/store/TransactionGuard.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSqlQuery>
#include <QVariant>

#include <memory>

namespace tulmo {

namespace {

struct Outcome : ReceptionLease::LeaseRow {
    bool ok = false;
};

bool readRow(QSqlDatabase db, Outcome *o) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select ESTACAO, EPOCA, CONTADOR, DESDE from RECEPCAO_ATIVA "
                               "where ID = 1")) ||
        !q.next())
        return false;
    o->estacao = q.value(0).toString().trimmed();
    o->epoch = q.value(1).toLongLong();
    o->counter = q.value(2).toLongLong();
    o->since = q.value(3).toDateTime();
    return true;
}

bool usable(RecordingLink &link) {
    return link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable;
}

// A server that went away takes the attachment with it, while the connection still looks
// open: a failed read asks with a round trip, which opens it again.
bool readLease(RecordingLink &link, Outcome *o) {
    if (!usable(link)) return false;
    if (readRow(link.db(), o)) return true;
    return link.ensureAlive() == Database::State::Reconnected && readRow(link.db(), o);
}

// A statement on the lease in a transaction of its own; a connection whose commit failed is
// started anew (it still holds that transaction and its lock on the row).
bool update(RecordingLink &link, const QString &sql,
            const QList<std::pair<QString, QVariant>> &values, bool *changed) {
    QSqlDatabase db = link.db();
    TransactionGuard transaction(db);
    QSqlQuery q(db);
    bool ok = transaction.begun() && q.prepare(sql);
    for (const auto &[name, value] : values)
        q.bindValue(name, value);
    ok = ok && q.exec();
    *changed = ok && q.numRowsAffected() == 1;
    ok = ok && transaction.commit();
    if (!ok) link.restart();
    return ok;
}

} // namespace

ReceptionLease::ReceptionLease(EventRecorder &recorder, StationSettings station, QObject *parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_station(std::move(station))
    , m_takeoverMs(m_station.takeoverSeconds * 1000) {}

void ReceptionLease::start(bool takesPart) {
    m_started = true;
    m_role = takesPart ? Role::Standby : Role::Viewer;
    m_recorder.setLease(RecordBatch::kNotHeld, true);
    postRead();
}

void ReceptionLease::stop() {
    m_started = false;
    if (m_role == Role::Holder) lose(QStringLiteral("a recepção foi encerrada nesta estação"));
}

QString ReceptionLease::statusText() const {
    if (m_holder.isEmpty()) return QStringLiteral("Recepção: nenhuma estação recebe");
    return QStringLiteral("Recepção: %1 desde %2")
        .arg(m_holder, m_since.toString(DateFormats::kDateTime));
}

void ReceptionLease::readAgain() {
    if (m_started && m_role != Role::Holder) postRead();
}

void ReceptionLease::tick() {
    if (!m_started) return;
    switch (m_role) {
    case Role::Viewer:
        // Database events say when the holder changes; a read now and then also finds a
        // server that came back, and what was missed while it was away.
        if (++m_viewerTicks % 5 == 0) postRead();
        return;
    case Role::Holder:
        if (m_confirmed.elapsed() > giveUpMs()) {
            lose(QStringLiteral("a recepção não pôde ser confirmada no servidor do banco de "
                                "dados"));
            return;
        }
        postRenew();
        return;
    case Role::Standby:
        if (m_seenEpoch >= 0 && (m_seenEpoch == 0 || m_unchanged.elapsed() >= m_takeoverMs)) {
            postTakeover(m_seenEpoch, m_seenCounter);
            return;
        }
        postRead();
        return;
    }
}

void ReceptionLease::postRead() {
    if (m_inFlight) return;
    m_inFlight = true;
    const QPointer<ReceptionLease> self(this);
    m_recorder.runInBackground([self](RecordingLink &link) -> std::function<void()> {
        auto o = std::make_shared<Outcome>();
        o->ok = readLease(link, o.get());
        return [self, o] {
            if (!self) return;
            self->m_inFlight = false;
            if (!o->ok) return;
            self->seen(*o);
        };
    });
}

void ReceptionLease::seen(const LeaseRow &row) {
    if (row.epoch != m_seenEpoch || row.counter != m_seenCounter) {
        m_unchanged.start();
        // A holder other than the one known before: the workstations hear of the takeover.
        if (m_seenEpoch > 0 && row.epoch != m_seenEpoch && !row.estacao.isEmpty())
            emit takenOver(row.estacao, row.since);
        m_seenEpoch = row.epoch;
        m_seenCounter = row.counter;
    }
    if (row.estacao != m_holder || row.since != m_since) {
        m_holder = row.estacao;
        m_since = row.since;
        emit statusChanged();
    }
}

void ReceptionLease::postRenew() {
    if (m_inFlight) return;
    m_inFlight = true;
    const qint64 epoch = m_epoch;
    const QPointer<ReceptionLease> self(this);
    m_recorder.runInBackground([self, epoch](RecordingLink &link) -> std::function<void()> {
        QElapsedTimer sentAt;
        sentAt.start();
        bool held = false;
        const bool ok =
            usable(link) &&
            update(link,
                   QStringLiteral("update RECEPCAO_ATIVA set RENOVADO = CURRENT_TIMESTAMP, "
                                  "CONTADOR = CONTADOR + 1 where ID = 1 and EPOCA = :e"),
                   {{QStringLiteral(":e"), epoch}}, &held);
        return [self, ok, held, sentAt, epoch] {
            if (!self) return;
            self->m_inFlight = false;
            if (self->m_role != Role::Holder || self->m_epoch != epoch) return;
            if (ok && held) {
                // Measured from before the statement left: the standby saw it later.
                if (sentAt.msecsSinceReference() > self->m_confirmed.msecsSinceReference())
                    self->m_confirmed = sentAt;
                return;
            }
            if (ok) self->lose(QStringLiteral("outra estação assumiu a recepção"));
        };
    });
}

void ReceptionLease::postTakeover(qint64 seenEpoch, qint64 seenCounter) {
    if (m_inFlight) return;
    m_inFlight = true;
    const QString station = m_station.name;
    const qint64 pid = QCoreApplication::applicationPid();
    const QPointer<ReceptionLease> self(this);
    m_recorder.runInBackground([=](RecordingLink &link) -> std::function<void()> {
        QElapsedTimer sentAt;
        sentAt.start();
        bool taken = false;
        auto o = std::make_shared<Outcome>();
        const bool ok =
            usable(link) &&
            update(link,
                   QStringLiteral("update RECEPCAO_ATIVA set EPOCA = EPOCA + 1, ESTACAO = :s, "
                                  "PROCESSO = :p, DESDE = CURRENT_TIMESTAMP, RENOVADO = "
                                  "CURRENT_TIMESTAMP, CONTADOR = CONTADOR + 1 where ID = 1 and "
                                  "EPOCA = :e and CONTADOR = :c"),
                   {{QStringLiteral(":s"), station},
                    {QStringLiteral(":p"), pid},
                    {QStringLiteral(":e"), seenEpoch},
                    {QStringLiteral(":c"), seenCounter}},
                   &taken) &&
            readRow(link.db(), o.get());
        return [self, ok, taken, o, sentAt, seenEpoch] {
            if (!self) return;
            self->m_inFlight = false;
            if (!self->m_started || self->m_role != Role::Standby) return;
            if (!ok) return; // tried again at the next tick
            // Another one was quicker, or the holder renewed meanwhile: go on watching.
            if (!taken || o->epoch != seenEpoch + 1) {
                self->seen(*o);
                return;
            }
            self->m_role = Role::Holder;
            self->m_epoch = o->epoch;
            self->m_confirmed = sentAt;
            self->m_recorder.setLease(self->m_epoch, true);
            emit self->acquired(seenEpoch > 0 ? self->m_holder : QString());
            self->seen(*o); // announces the takeover when another held it before
        };
    });
}

void ReceptionLease::lose(const QString &why) {
    m_role = m_started ? Role::Standby : Role::Viewer;
    m_recorder.setLease(RecordBatch::kNotHeld, true);
    // Watching starts afresh: the row must be seen unchanged for the whole time again, and
    // whoever took it is announced.
    m_seenEpoch = m_epoch >= 0 ? m_epoch : m_seenEpoch;
    m_seenCounter = -1;
    m_epoch = -1;
    emit released(why);
    postRead();
}

} // namespace tulmo
