// A console that only records: started on the folder given, it runs recording passes back
// to back until its event queue is empty, telling after each how many lines are left. With a
// budget in milliseconds the passes are that short (so that most of the time is spent in
// commits and rewrites of the queue file); without one each is the one-second driver's tick.
// The exactly-once test kills it at random moments.
#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"
#include "core/events/EventRecorder.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>
#include <cstdlib>

using namespace tulmo;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    const int budgetMs = argc > 2 ? std::atoi(argv[2]) : 0;
    ConsoleCore core(QString::fromLocal8Bit(argv[1]), SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    // The test's lines are one account's flood: no runaway panel.
    core.recorder().runaway().setLimits({RunawayWatch::kMaxSignals, 1});
    std::printf("started %lld\n", static_cast<long long>(core.eventQueue().size()));
    std::fflush(stdout);
    while (!core.eventQueue().isEmpty()) {
        if (budgetMs > 0) {
            core.pump().recordPass(budgetMs);
        } else {
            // The tick starts the recording; its batches commit on the recorder's thread.
            core.Timer_AtualizarTimer();
            while (core.pump().busy())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        std::printf("left %lld\n", static_cast<long long>(core.eventQueue().size()));
        std::fflush(stdout);
    }
    core.shutdown();
    std::printf("done\n");
    return 0;
}
