#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace tulmo {

// FILA_EVENTOS, read on the recording thread: rows that a queue mark shows recorded are
// dropped (a line acknowledged to the server while its own recording committed), then the
// first rows, in number order, of the oldest queue that is not own, up to the oldest line of
// any other queue.
struct SharedRows {
    QString queueId;
    qint64 first = 0;
    QStringList lines;
    bool more = false;
    bool failed = false;
};
constexpr int kSharedBatch = 500;

// Own lines numbered below ownFirst (they left the local queue once on the server, while this
// process did not record) count as another queue's.
SharedRows readSharedRows(QSqlDatabase db, const QString &ownQueue, qint64 ownFirst);

} // namespace tulmo
