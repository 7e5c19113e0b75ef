#include "SharedAlerts.h"

#include "core/events/EventRecorder.h"
#include "core/events/RecordingWorker.h"
#include "core/store/TransactionGuard.h"

#include <QPointer>
#include <QSqlQuery>
#include <memory>

namespace tulmo {

namespace {
constexpr int kMaxWaiting = 2000;   // a server away for long: the oldest alerts go first
constexpr int kReadAtOnce = 500;
constexpr int kPurgeEvery = 3600;   // flushes, one a second

bool usable(RecordingLink &link) {
    return link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable;
}
} // namespace

SharedAlerts::SharedAlerts(EventRecorder &recorder, QString station, QObject *parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_station(std::move(station)) {}

void SharedAlerts::post(Kind kind, const QString &text, const QDateTime &at) {
    if (m_posted.size() >= kMaxWaiting) m_posted.removeFirst();
    m_posted.append({int(kind), text, at});
}

void SharedAlerts::setReceiving(bool receiving) {
    if (receiving == m_receiving) return;
    m_receiving = receiving;
    m_last = -1;
    if (!receiving) readNew();
}

void SharedAlerts::flush(const QDateTime &now) {
    const bool purge = ++m_flushes % kPurgeEvery == 0;
    if (m_writing || (m_posted.isEmpty() && !purge)) return;
    m_writing = true;
    const QList<Posted> batch = m_posted;
    const QPointer<SharedAlerts> self(this);
    m_recorder.runInBackground([self, batch, station = m_station, cutoff = now.addDays(-1),
                                purge](RecordingLink &link) -> std::function<void()> {
        bool ok = usable(link);
        if (ok) {
            QSqlDatabase db = link.db();
            TransactionGuard transaction(db);
            QSqlQuery q(db);
            ok = transaction.begun() &&
                 q.prepare(QStringLiteral(
                     "insert into ALERTAS_SUPERVISAO (ID, TIPO, TEXTO, QUANDO, ESTACAO) values "
                     "(next value for GEN_ALERTAS_SUPERVISAO, :t, :x, :q, :e)"));
            for (int i = 0; ok && i < batch.size(); ++i) {
                q.bindValue(QStringLiteral(":t"), batch[i].kind);
                q.bindValue(QStringLiteral(":x"), batch[i].text.left(300));
                q.bindValue(QStringLiteral(":q"), batch[i].at);
                q.bindValue(QStringLiteral(":e"), station);
                ok = q.exec();
            }
            if (ok && purge) {
                QSqlQuery d(db);
                d.prepare(QStringLiteral("delete from ALERTAS_SUPERVISAO where QUANDO < :c"));
                d.bindValue(QStringLiteral(":c"), cutoff);
                ok = d.exec();
            }
            ok = ok && transaction.commit();
            if (!ok && db.isOpen()) link.restart();
        }
        return [self, ok, n = batch.size()] {
            if (!self) return;
            self->m_writing = false;
            // Posted meanwhile stays for the next flush; the oldest may have been dropped.
            if (ok) self->m_posted.remove(0, std::min<qsizetype>(n, self->m_posted.size()));
        };
    });
}

void SharedAlerts::readNew() {
    if (m_receiving) return;
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    m_reading = true;
    struct Read {
        bool ok = false;
        qint64 last = -1;
        QList<std::pair<int, QString>> alerts;
    };
    const QPointer<SharedAlerts> self(this);
    m_recorder.runInBackground([self, after = m_last](RecordingLink &link) -> std::function<void()> {
        auto r = std::make_shared<Read>();
        if (usable(link)) {
            QSqlQuery q(link.db());
            q.setForwardOnly(true);
            if (after < 0) {
                r->ok = q.exec(QStringLiteral(
                            "select coalesce(max(ID), 0) from ALERTAS_SUPERVISAO")) &&
                        q.next();
                if (r->ok) r->last = q.value(0).toLongLong();
            } else {
                q.prepare(QStringLiteral("select first %1 ID, TIPO, TEXTO from "
                                         "ALERTAS_SUPERVISAO where ID > :id order by ID")
                              .arg(kReadAtOnce));
                q.bindValue(QStringLiteral(":id"), after);
                r->ok = q.exec();
                r->last = after;
                while (r->ok && q.next()) {
                    r->last = q.value(0).toLongLong();
                    r->alerts.append({q.value(1).toInt(), q.value(2).toString()});
                }
            }
        }
        return [self, r, after] {
            if (!self) return;
            self->m_reading = false;
            // Looked at from before a change of role: what it found belongs to the old one.
            const bool current = !self->m_receiving && self->m_last == after;
            if (r->ok && current) {
                self->m_last = r->last;
                for (const auto &[kind, text] : r->alerts) emit self->alert(kind, text);
            }
            const bool more = r->alerts.size() >= kReadAtOnce;
            if (self->m_readAgain || (r->ok && current && more)) {
                self->m_readAgain = false;
                self->readNew();
            }
        };
    });
}

} // namespace tulmo
