#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace tulmo {

class RecordingRepository;
struct RecordBatch;

// The lines of the window to record ahead of the head, as indexes into it in queue order:
// before, those of accounts without lines of the head batch left to record; after, those of
// accounts that still have some there, recorded once these are (headLast: the index of each
// such account's last line in the head batch). Each priority line comes with every line of
// its account before it in the window; an account whose lines do not all fit stops jumping
// there, since a later one of it would pass those left behind. So whatever part of this is
// recorded, each account's recorded lines stay the first ones it has in the queue.
struct Lane {
    QList<qsizetype> before, after;
    QHash<QString, qsizetype> headLast;
    QList<QString> afterAccounts; // the account of each line of after
};
Lane chooseLane(RecordingRepository &repo, const RecordBatch &batch);

} // namespace tulmo
