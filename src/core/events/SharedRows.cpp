#include "core/events/SharedRows.h"

#include <QList>
#include <QSqlQuery>
#include <QVariant>

#include <utility>

namespace tulmo {

// Every statement here goes by the key (FILA, NUMERO): the table also holds this process's own
// lines that wait for their recording, as many as the backlog, and a walk over them at every
// tick would slow the very recording that empties it.
SharedRows readSharedRows(QSqlDatabase db, const QString &ownQueue, qint64 ownFirst) {
    SharedRows rows;
    {
        // Lines whose queue mark shows them recorded (acknowledged to the server while their
        // recording committed elsewhere) go first; the marks are few, one per queue.
        QSqlQuery marks(db);
        marks.setForwardOnly(true);
        QList<std::pair<QString, qint64>> found;
        if (marks.exec(QStringLiteral("select QUEUE_ID, LAST_LINE from QUEUE_MARK")))
            while (marks.next()) found.append({marks.value(0).toString(), marks.value(1).toLongLong()});
        QSqlQuery d(db);
        d.prepare(QStringLiteral("delete from FILA_EVENTOS where FILA = :f and NUMERO <= :n"));
        for (const auto &[fila, last] : found) {
            d.bindValue(QStringLiteral(":f"), fila);
            d.bindValue(QStringLiteral(":n"), last);
            d.exec();
        }
        // So do the lines another workstation recorded ahead of its queue's head: their rows
        // left with their recording, but one sent to the server while it committed stays.
        // The few such lines are kept until the queue's mark passes them.
        QSqlQuery passed(db);
        passed.prepare(
            QStringLiteral("delete from FILA_ADIANTADAS where FILA = :f and NUMERO <= :n"));
        for (const auto &[fila, last] : found) {
            passed.bindValue(QStringLiteral(":f"), fila);
            passed.bindValue(QStringLiteral(":n"), last);
            passed.exec();
        }
        QSqlQuery ahead(db);
        ahead.setForwardOnly(true);
        ahead.prepare(
            QStringLiteral("select FILA, NUMERO from FILA_ADIANTADAS where FILA <> :own"));
        ahead.bindValue(QStringLiteral(":own"), ownQueue);
        QList<std::pair<QString, qint64>> recorded;
        if (ahead.exec())
            while (ahead.next()) recorded.append({ahead.value(0).toString(), ahead.value(1).toLongLong()});
        QSqlQuery one(db);
        one.prepare(QStringLiteral("delete from FILA_EVENTOS where FILA = :f and NUMERO = :n"));
        for (const auto &[fila, numero] : recorded) {
            one.bindValue(QStringLiteral(":f"), fila);
            one.bindValue(QStringLiteral(":n"), numero);
            one.exec();
        }
    }
    // The oldest queue to take: another process's (below or above this one's name in the key),
    // or this one's own lines below ownFirst, which left the local queue once on the server
    // while this process did not record.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    qint64 oldest = -1;
    // The oldest line of the queues not taken: the run taken ends before it, so that lines of
    // two queues go in the order they reached the server (a module that went from one
    // workstation to the other keeps its order).
    qint64 nextOldest = -1;
    auto consider = [&](const QString &sql, bool withFirst) {
        if (rows.failed || !q.prepare(sql)) {
            rows.failed = true;
            return;
        }
        q.bindValue(QStringLiteral(":own"), ownQueue);
        if (withFirst) q.bindValue(QStringLiteral(":first"), ownFirst);
        if (!q.exec()) {
            rows.failed = true;
            return;
        }
        while (q.next()) {
            if (q.value(1).isNull()) continue;
            const qint64 ordem = q.value(1).toLongLong();
            if (oldest < 0 || ordem < oldest) {
                if (oldest >= 0) nextOldest = oldest;
                oldest = ordem;
                rows.queueId = q.value(0).toString();
            } else if (nextOldest < 0 || ordem < nextOldest) {
                nextOldest = ordem;
            }
        }
    };
    consider(QStringLiteral("select FILA, min(ORDEM) from FILA_EVENTOS where FILA < :own group "
                            "by FILA"), false);
    consider(QStringLiteral("select FILA, min(ORDEM) from FILA_EVENTOS where FILA > :own group "
                            "by FILA"), false);
    consider(QStringLiteral("select FILA, min(ORDEM) from FILA_EVENTOS where FILA = :own and "
                            "NUMERO < :first group by FILA"), true);
    if (rows.failed || oldest < 0) return rows;
    QSqlQuery l(db);
    l.setForwardOnly(true);
    l.prepare(QStringLiteral("select first %1 NUMERO, LINHA, ORDEM from FILA_EVENTOS where FILA = "
                             ":f and (FILA <> :own or NUMERO < :first) order by NUMERO")
                  .arg(kSharedBatch + 1));
    l.bindValue(QStringLiteral(":f"), rows.queueId);
    l.bindValue(QStringLiteral(":own"), ownQueue);
    l.bindValue(QStringLiteral(":first"), ownFirst);
    if (!l.exec()) {
        rows.failed = true;
        return rows;
    }
    qint64 expected = -1;
    while (l.next()) {
        const qint64 n = l.value(0).toLongLong();
        // Only a run without gaps: the mark counts lines from the first. The first line is
        // always taken, whatever its place: the queues go on.
        const bool newer = nextOldest >= 0 && l.value(2).toLongLong() > nextOldest;
        if ((expected >= 0 && (n != expected || newer)) || rows.lines.size() == kSharedBatch) {
            rows.more = true;
            break;
        }
        if (expected < 0) rows.first = n;
        expected = n + 1;
        rows.lines << l.value(1).toString();
    }
    return rows;
}

} // namespace tulmo
