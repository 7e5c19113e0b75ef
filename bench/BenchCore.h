#pragma once

// The console as the benchmarks run it, and the one that times each device frame from its
// send to its line flushed to the queue file, which is what the frame's acknowledgement waits
// for.

#include "BenchStats.h"
#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace tulmo::bench {

struct Timed {
    int64_t sentNs; // when the device sent the frame (monoNs)
    double ms;      // from then to its line on the disk
};

// The device side writes each frame's send time into sent[keyOf(frame)] (0 once taken); a
// frame whose key is out of 0 … keys-1 is not timed.
class TimedCore : public ConsoleCore {
public:
    TimedCore(const QString &programDir, const Clock &clock, Prompt *prompt,
              std::atomic<int64_t> *sent, int keys, std::function<int(const QString &)> keyOf)
        : ConsoleCore(programDir, clock, prompt, nullptr)
        , m_sent(sent)
        , m_keys(keys)
        , m_keyOf(std::move(keyOf)) {}

    QueueResult stageEvent(const QString &frame) override {
        const QueueResult r = ConsoleCore::stageEvent(frame);
        const int key = m_keyOf(frame);
        if (r != QueueResult::Queued || key < 0 || key >= m_keys) return r;
        const int64_t s = m_sent[key].exchange(0);
        if (s && recording)
            whenDurable([this, s](bool durable) {
                if (durable) timed.push_back({s, double(monoNs() - s) / 1e6});
            });
        return r;
    }

    // The delays timed so far, in milliseconds, and a new start.
    std::vector<double> takeLatency() {
        std::vector<double> ms;
        ms.reserve(timed.size());
        for (const Timed &t : timed) ms.push_back(t.ms);
        timed.clear();
        return ms;
    }

    bool recording = true;
    std::vector<Timed> timed;

private:
    std::atomic<int64_t> *m_sent;
    int m_keys;
    std::function<int(const QString &)> m_keyOf;
};

} // namespace tulmo::bench
