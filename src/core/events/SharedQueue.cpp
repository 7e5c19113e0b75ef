#include "SharedQueue.h"

#include "core/events/EventQueue.h"
#include "core/events/RecordingWorker.h"
#include "core/store/TransactionGuard.h"

#include <QPointer>
#include <QTimer>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace tulmo {

SharedQueue::SharedQueue(Database &database, EventQueue &local, QString station, QString table,
                         QObject *parent)
    : QObject(parent)
    , m_local(local)
    , m_station(std::move(station).left(60))
    , m_table(std::move(table))
    , m_worker(std::make_unique<RecordingWorker>(database)) {}

SharedQueue::~SharedQueue() = default;

QString SharedQueue::offlineText() const {
    return m_offline ? QStringLiteral("Servidor do banco de dados inacessível: os eventos ficam "
                                      "em Dados/Eventos_Log.dat até ele voltar.")
                     : QString();
}

// Lines that have left the head of the local queue were recorded (in EVENTOS, on the server)
// or sent already: none of them needs sending.
void SharedQueue::takeRecorded() {
    m_pushed = std::max(m_pushed, m_local.numberAt(0) - 1);
}

void SharedQueue::whenShared(std::function<void(bool)> done) {
    takeRecorded();
    const qsizetype durable = m_local.durableCount();
    const qint64 through = durable > 0 ? m_local.numberAt(durable - 1) : -1;
    if (m_offline || through <= m_pushed) {
        done(true);
        return;
    }
    m_waiters.append({through, std::move(done)});
    push();
}

void SharedQueue::push() {
    // A server that does not answer at all (a network cut: no refusal comes back) holds the
    // answers no longer than this: the local file has the lines.
    if (m_inFlight && !m_offline && m_sendStarted.elapsed() > kStallMs) {
        m_offline = true;
        answer();
        emit offlineChanged();
    }
    if (m_inFlight) return;
    takeRecorded();
    answer();
    const qsizetype durable = m_local.durableCount();
    const qint64 head = m_local.numberAt(0);
    const qint64 removeBelow = m_removesLeft && !m_releases && head > m_removedBelow ? head : -1;
    QList<std::pair<qint64, QString>> lines;
    for (qsizetype i = 0; i < durable; ++i) {
        const qint64 n = m_local.numberAt(i);
        if (n > m_pushed) lines.append({n, m_local.lines().at(i)});
    }
    // Offline with nothing to send: the commit of nothing tells when the server is back.
    if (lines.isEmpty() && removeBelow < 0 && !m_offline) {
        if (m_releases) m_local.dropThrough(m_pushed);
        return;
    }
    m_inFlight = true;
    m_sendStarted.start();
    m_sending = lines.isEmpty() ? m_pushed : lines.last().first;
    const QString queueId = m_local.identity();
    const QString station = m_station;
    const QString table = m_table;
    const qint64 through = m_sending;
    const QPointer<SharedQueue> self(this);
    m_worker->post([=](RecordingLink &link) -> std::function<void()> {
        bool ok = false;
        if (link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable) {
            QSqlDatabase db = link.db();
            TransactionGuard transaction(db);
            // Lines the station has recorded already (a process started again with its old
            // file) are not sent back; a line already on the server stays as it is. Neither
            // touches a row that the workstation recording may be taking at that moment: a
            // row rewritten under its batch would hold both transactions, each waiting for
            // the other.
            qint64 mark = -1;
            {
                QSqlQuery m(db);
                m.prepare(QStringLiteral("select LAST_LINE from QUEUE_MARK where QUEUE_ID = :f"));
                m.bindValue(QStringLiteral(":f"), queueId);
                if (transaction.begun() && m.exec() && m.next()) mark = m.value(0).toLongLong();
            }
            QSqlQuery q(db);
            ok = transaction.begun() &&
                 q.prepare(QStringLiteral(
                     "insert into %1 (FILA, NUMERO, ORDEM, ESTACAO, LINHA) select cast(:f as "
                     "varchar(40)), cast(:n as bigint), next value for GEN_FILA_EVENTOS, "
                     "cast(:e as varchar(60)), cast(:l as varchar(1000)) from RDB$DATABASE "
                     "where not exists (select 1 from %1 where FILA = :f2 and NUMERO = :n2)")
                     .arg(table));
            for (qsizetype i = 0; ok && i < lines.size(); ++i) {
                if (lines[i].first <= mark) continue;
                q.bindValue(QStringLiteral(":f2"), queueId);
                q.bindValue(QStringLiteral(":n2"), lines[i].first);
                q.bindValue(QStringLiteral(":f"), queueId);
                q.bindValue(QStringLiteral(":n"), lines[i].first);
                q.bindValue(QStringLiteral(":e"), station);
                q.bindValue(QStringLiteral(":l"), lines[i].second);
                ok = q.exec();
            }
            if (ok && removeBelow >= 0) {
                QSqlQuery d(db);
                ok = d.prepare(QStringLiteral("delete from %1 where FILA = :f and NUMERO < :n")
                                   .arg(table));
                d.bindValue(QStringLiteral(":f"), queueId);
                d.bindValue(QStringLiteral(":n"), removeBelow);
                ok = ok && d.exec();
            }
            ok = ok && transaction.commit();
            // A connection whose commit failed holds that transaction: start it anew.
            if (!ok) link.restart();
        }
        return [self, through, ok, removeBelow] {
            if (!self) return;
            if (ok && removeBelow >= 0) self->m_removedBelow = removeBelow;
            self->sent(through, ok);
        };
    });
}

void SharedQueue::sent(qint64 through, bool ok) {
    m_inFlight = false;
    const bool wasOffline = m_offline;
    m_offline = !ok;
    if (ok) m_pushed = std::max(m_pushed, through);
    // The local file holds them: a server that cannot take them does not stop the answers.
    answer();
    if (ok && m_releases) m_local.dropThrough(m_pushed);
    if (wasOffline != m_offline) emit offlineChanged();
    // What was staged meanwhile goes in the next commit.
    if (ok && !m_waiters.isEmpty()) push();
}

void SharedQueue::answer() {
    while (!m_waiters.isEmpty() && (m_offline || m_waiters.first().through <= m_pushed)) {
        Waiter w = m_waiters.takeFirst();
        w.done(true);
    }
}

void SharedQueue::adoptLeft(std::function<bool()> wanted) {
    m_removesLeft = false;
    // This queue's own rows from before are the ones below its head now; what it stages from
    // here on is numbered from the head and is not taken again.
    adoptFrom(m_local.numberAt(0), std::move(wanted));
}

void SharedQueue::adoptFrom(qint64 head, std::function<bool()> wanted) {
    struct Found {
        QList<std::pair<QString, qint64>> keys;
        QStringList lines;
    };
    const QPointer<SharedQueue> self(this);
    const QString own = m_local.identity();
    const QString table = m_table;
    m_worker->post([=](RecordingLink &link) -> std::function<void()> {
        auto found = std::make_shared<Found>();
        bool ok = link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable;
        if (ok) {
            QSqlQuery q(link.db());
            q.setForwardOnly(true);
            ok = q.prepare(QStringLiteral("select first %1 FILA, NUMERO, LINHA from %2 where FILA "
                                          "<> :f or NUMERO < :n order by ORDEM")
                               .arg(kAdoptChunk)
                               .arg(table));
            q.bindValue(QStringLiteral(":f"), own);
            q.bindValue(QStringLiteral(":n"), head);
            ok = ok && q.exec();
            while (ok && q.next()) {
                found->keys.append({q.value(0).toString(), q.value(1).toLongLong()});
                found->lines << q.value(2).toString();
            }
            if (!ok) link.restart();
        }
        return [=] {
            if (!self || !wanted()) return;
            if (!ok) {
                QTimer::singleShot(1000, self, [=] {
                    if (self && wanted()) self->adoptFrom(head, wanted);
                });
                return;
            }
            if (found->keys.isEmpty()) {
                // From now on the rows that leave this queue leave the server too.
                self->m_removesLeft = true;
                return;
            }
            for (const QString &line : std::as_const(found->lines))
                self->m_local.stage(line);
            self->m_local.whenDurable([=](bool durable) {
                if (self && durable && wanted()) self->removeAdopted(head, found->keys, wanted);
            });
        };
    });
}

void SharedQueue::removeAdopted(qint64 head, QList<std::pair<QString, qint64>> keys,
                                std::function<bool()> wanted) {
    const QPointer<SharedQueue> self(this);
    const QString table = m_table;
    // In key order, as every statement on the table goes: two transactions never wait for
    // each other round.
    std::sort(keys.begin(), keys.end());
    m_worker->post([=](RecordingLink &link) -> std::function<void()> {
        bool ok = link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable;
        if (ok) {
            QSqlDatabase db = link.db();
            TransactionGuard transaction(db);
            QSqlQuery d(db), m(db);
            ok = transaction.begun() &&
                 d.prepare(QStringLiteral("delete from %1 where FILA = :f and NUMERO = :n")
                               .arg(table)) &&
                 m.prepare(QStringLiteral(
                     "update or insert into QUEUE_MARK (QUEUE_ID, LAST_LINE) values (:f, "
                     "maxvalue(cast(:n as bigint), coalesce((select LAST_LINE from QUEUE_MARK "
                     "where QUEUE_ID = :f2), -1))) matching (QUEUE_ID)"));
            for (qsizetype i = 0; ok && i < keys.size(); ++i) {
                d.bindValue(QStringLiteral(":f"), keys[i].first);
                d.bindValue(QStringLiteral(":n"), keys[i].second);
                ok = d.exec();
                // The last of each queue marks how far it was taken.
                if (ok && (i + 1 == keys.size() || keys[i + 1].first != keys[i].first)) {
                    m.bindValue(QStringLiteral(":f"), keys[i].first);
                    m.bindValue(QStringLiteral(":f2"), keys[i].first);
                    m.bindValue(QStringLiteral(":n"), keys[i].second);
                    ok = m.exec();
                }
            }
            ok = ok && transaction.commit();
            if (!ok) link.restart();
        }
        return [=] {
            if (!self || !wanted()) return;
            if (!ok) {
                QTimer::singleShot(1000, self, [=] {
                    if (self && wanted()) self->removeAdopted(head, keys, wanted);
                });
                return;
            }
            self->adoptFrom(head, wanted);
        };
    });
}

void SharedQueue::finish() {
    m_worker->finish();
}

} // namespace tulmo
