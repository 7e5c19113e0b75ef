#include "sim/Sent.h"

#include <algorithm>

namespace tulmo::sim {

QList<double> answerTimesMs(const std::vector<SentEvent> &sent) {
    QList<double> l;
    for (const SentEvent &s : sent)
        if (s.answeredMs > 0) l << double(s.answeredMs - s.sentMs);
    std::sort(l.begin(), l.end());
    return l;
}

int unansweredOf(const std::vector<SentEvent> &sent) {
    return int(std::count_if(sent.begin(), sent.end(),
                             [](const SentEvent &s) { return s.answeredMs == 0; }));
}

} // namespace tulmo::sim
