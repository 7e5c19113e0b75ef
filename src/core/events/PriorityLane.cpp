#include "core/events/PriorityLane.h"

#include "core/events/EventLine.h"
#include "core/events/EventRecorder.h"
#include "core/events/RecordingRepository.h"

#include <QSet>

#include <algorithm>

namespace tulmo {

namespace {

// The most lines of a backlog one transaction records ahead of its head: the head batch
// keeps its share of the commit.
constexpr int kMostAhead = 500;

// Alarms, emergencies and panics: the types whose lines jump a backlog.
bool priorityType(const QString &tipo) {
    return tipo == QLatin1String("2") || tipo == QLatin1String("4") || tipo == QLatin1String("5");
}

} // namespace

Lane chooseLane(RecordingRepository &repo, const RecordBatch &batch) {
    Lane lane;
    const QSet<qint64> ahead(batch.ahead.cbegin(), batch.ahead.cend());
    for (qsizetype i = 0; i < batch.lines.size(); ++i) {
        if (ahead.contains(batch.firstNumber + i)) continue;
        if (const auto ev = eventline::parse(batch.lines[i])) lane.headLast[ev->conta] = i;
    }
    QHash<QString, bool> priorityCode; // by CODIGO_EVENTO, looked up once per batch
    QHash<QString, QList<qsizetype>> waiting; // per account, its lines not chosen yet
    QSet<QString> closed;
    QHash<qsizetype, QString> accountOf;
    qsizetype chosen = 0;
    for (qsizetype j = 0; j < batch.window.size() && chosen < kMostAhead; ++j) {
        const QString &line = batch.window[j];
        const auto ev = eventline::parse(line);
        if (!ev || closed.contains(ev->conta)) continue;
        QList<qsizetype> &mine = waiting[ev->conta];
        mine.append(j);
        auto known = priorityCode.constFind(ev->codigo);
        if (known == priorityCode.cend()) {
            EventCodeRow code;
            // Not read: no line jumps on it; the head batch meets the fault itself.
            const bool priority = repo.readEventCode(ev->codigo, &code) && priorityType(code.tipo);
            known = priorityCode.insert(ev->codigo, priority);
        }
        // A line that can never be an event is turned away in its turn, never ahead.
        if (!*known || !eventline::unstorableReason(line).isEmpty()) continue;
        if (chosen + mine.size() > kMostAhead) {
            closed.insert(ev->conta);
            continue;
        }
        const bool inHead = lane.headLast.contains(ev->conta);
        for (qsizetype k : std::as_const(mine)) {
            (inHead ? lane.after : lane.before).append(k);
            if (inHead) accountOf.insert(k, ev->conta);
        }
        chosen += mine.size();
        mine.clear();
    }
    std::sort(lane.before.begin(), lane.before.end());
    std::sort(lane.after.begin(), lane.after.end());
    for (qsizetype k : std::as_const(lane.after))
        lane.afterAccounts.append(accountOf.value(k));
    return lane;
}

} // namespace tulmo
