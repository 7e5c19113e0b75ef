// The runaway check of the recording, by itself: a station of a million accounts, each
// reporting now and then, a few of them runaway. Measured: the time of one check (the goal is
// under 0.1 ms per event) and the memory the watch holds for them.
//
//   bench_runaway [--contas N] [--eventos M]
#include "BenchStats.h"

#include "core/events/RunawayWatch.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cstdio>
#include <vector>

using namespace tulmo;

namespace {

int option(const QStringList &args, const QString &name, int fallback) {
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

long rssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:")) return l.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int accounts = option(args, "--contas", 1000000);
    const int events = option(args, "--eventos", 5000000);

    // The account numbers as the lines carry them, made before the clock starts.
    std::vector<QString> contas;
    contas.reserve(size_t(accounts));
    for (int i = 0; i < accounts; ++i)
        contas.push_back(QString::number(i, 16).toUpper().rightJustified(6, QLatin1Char('0')));
    QRandomGenerator rng(20261210);
    std::vector<int> order(static_cast<size_t>(events));
    for (int &k : order)
        // One event in fifty from a hundred runaway panels, the rest from anywhere.
        k = rng.bounded(50) == 0 ? rng.bounded(100) : rng.bounded(accounts);

    const long before = rssKb();
    RunawayWatch watch;
    QDateTime t(QDate(2026, 12, 10), QTime(8, 0));
    long flagged = 0;
    std::vector<double> perBlock; // ns per check, over blocks of 100,000
    int64_t start = bench::monoNs(), block = start;
    for (int i = 0; i < events; ++i) {
        // A station of a million accounts receives some hundreds of events a second.
        if (i % 500 == 0) t = t.addSecs(1);
        if (watch.note(contas[size_t(order[size_t(i)])], t) == RunawayWatch::Verdict::Flagged)
            ++flagged;
        if ((i + 1) % 100000 == 0) {
            const int64_t now = bench::monoNs();
            perBlock.push_back(double(now - block) / 100000.0);
            block = now;
        }
    }
    const double totalNs = double(bench::monoNs() - start);
    const long after = rssKb();
    std::printf("%d contas, %d eventos, %ld contas em disparo\n", accounts, events, flagged);
    std::printf("verificação por evento: média %.0f ns, p50 %.0f ns, p99 %.0f ns, máx %.0f ns "
                "(blocos de 100.000; meta < 100000 ns)\n",
                totalNs / events, bench::percentile(perBlock, 0.5),
                bench::percentile(perBlock, 0.99), bench::percentile(perBlock, 1.0));
    std::printf("memória: %ld KiB para %lld contas vistas (%.0f bytes por conta)\n",
                after - before, qlonglong(watch.accounts()),
                double(after - before) * 1024.0 / double(watch.accounts()));
    return 0;
}
