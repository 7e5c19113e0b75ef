// Durable ingest: raw format "5" frames decoded into event lines and appended to the event
// queue, each append flushed to the disk before the next frame, as reception does it.
//
// Usage: bench_ingest [frames per size] [folder]
// The queue lives in a temporary folder under the given one (default: the current folder,
// so that the figures are those of a real disk rather than of a memory file system).

#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/events/EventDecoder.h"
#include "core/events/EventLine.h"
#include "core/events/EventQueue.h"
#include "core/settings/LiveSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tulmo;

namespace {

// A format "5" message as a receiver sends it, every field at its position.
QString frame5(int n) {
    static const char qualifiers[] = {'E', 'R', 'C', 'O', '1'};
    QString m(33, QLatin1Char(' '));
    auto put = [&m](int pos, const QString &text) { m.replace(pos - 1, text.size(), text); };
    put(1, QStringLiteral("5"));
    put(2, QStringLiteral("%1").arg(n % 10 + 1, 2, 10, QLatin1Char('0')));
    put(4, QString::number(n % 4 + 1));
    put(8, QStringLiteral("%1").arg(n % 10000, 4, 10, QLatin1Char('0')));
    put(12, QString(QLatin1Char(qualifiers[n % 5])));
    put(13, QStringLiteral("%1").arg(100 + n % 900, 3, 10, QLatin1Char('0')));
    put(16, QStringLiteral("%1").arg(n % 8 + 1, 2, 10, QLatin1Char('0')));
    put(18, QStringLiteral("%1").arg(n % 1000, 3, 10, QLatin1Char('0')));
    if (n % 2) {
        put(23, QStringLiteral("1"));
        put(24, QStringLiteral("%1").arg(1100000000LL + n, 10, 10, QLatin1Char('0')));
    } else {
        put(23, QStringLiteral("0"));
    }
    return m;
}

// Writes a queue file of count lines, as if they had been queued earlier.
bool prefill(const QString &path, int count, const EventDecoder &decoder) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += decoder.Decodifica_Eventos(frame5(i)).toUtf8() + "\r\n";
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct Row {
    int queued;
    int frames;
    double seconds;
    double removeMedianMs;
    double removeMaxMs;
};

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int frames = args.size() > 1 ? args.at(1).toInt() : 3000;
    const QString base = args.size() > 2 ? args.at(2) : QDir::currentPath();
    if (frames <= 0) {
        std::fprintf(stderr, "usage: bench_ingest [frames per size] [folder]\n");
        return 2;
    }
    QTemporaryDir dir(QDir(base).filePath(QStringLiteral("bench_ingest-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder under %s\n", qPrintable(base));
        return 1;
    }

    LiveSettings settings; // date and time from the computer's clock, the default
    const EventDecoder decoder(SystemClock::instance(), settings);
    constexpr int kRemovals = 25;
    std::vector<Row> rows;

    for (const int queued : {10, 1000, 10000}) {
        const QString path = dir.filePath(QStringLiteral("Eventos_Log_%1.dat").arg(queued));
        if (!prefill(path, queued, decoder)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        EventQueue queue(path);
        QString error;
        if (queue.load(&error) != EventQueue::LoadStatus::Loaded || queue.size() != queued) {
            std::fprintf(stderr, "cannot load %s: %s\n", qPrintable(path), qPrintable(error));
            return 1;
        }

        // Ingest: decode and append, every append durable before the next frame.
        std::vector<QString> raw;
        raw.reserve(frames);
        for (int i = 0; i < frames; ++i)
            raw.push_back(frame5(queued + i));
        QElapsedTimer t;
        t.start();
        for (const QString &m : raw) {
            const QString line = decoder.Decodifica_Eventos(m);
            if (line.isEmpty() || !queue.append(line, &error)) {
                std::fprintf(stderr, "ingest failed: %s\n", qPrintable(error));
                return 1;
            }
        }
        const double seconds = double(t.nsecsElapsed()) / 1e9;
        if (queue.size() != queued + frames) {
            std::fprintf(stderr, "queue holds %lld lines, expected %d\n",
                         static_cast<long long>(queue.size()), queued + frames);
            return 1;
        }

        // removeHead at exactly this size: back to the prefilled file, then each removal
        // is followed by an (untimed) append so the size stays put.
        if (!prefill(path, queued, decoder) ||
            queue.load(&error) != EventQueue::LoadStatus::Loaded) {
            std::fprintf(stderr, "cannot reset %s: %s\n", qPrintable(path), qPrintable(error));
            return 1;
        }
        std::vector<double> removeMs;
        for (int i = 0; i < kRemovals; ++i) {
            t.restart();
            if (!queue.removeHead(&error)) {
                std::fprintf(stderr, "removeHead failed: %s\n", qPrintable(error));
                return 1;
            }
            removeMs.push_back(double(t.nsecsElapsed()) / 1e6);
            queue.append(decoder.Decodifica_Eventos(frame5(i)));
        }
        std::sort(removeMs.begin(), removeMs.end());
        rows.push_back({queued, frames, seconds, removeMs[removeMs.size() / 2], removeMs.back()});
    }

    const QStorageInfo storage(dir.path());
    std::printf("Durable ingest: raw format \"5\" frame -> EventDecoder -> EventQueue::append "
                "(fdatasync per frame)\n");
    std::printf("folder %s (%s, %s)\n\n", qPrintable(dir.path()),
                storage.fileSystemType().constData(), qPrintable(storage.device()));
    std::printf("%10s %8s %10s %12s %14s | %18s %14s\n", "queued", "frames", "seconds", "frames/s",
                "ms per frame", "removeHead median", "removeHead max");
    for (const Row &r : rows) {
        std::printf("%10d %8d %10.3f %12.0f %14.3f | %15.3f ms %11.3f ms\n", r.queued, r.frames,
                    r.seconds, r.frames / r.seconds, 1000.0 * r.seconds / r.frames,
                    r.removeMedianMs, r.removeMaxMs);
    }
    const Row &target = rows.at(1);
    const double rate = target.frames / target.seconds;
    std::printf("\ntarget: >= 2000 frames/s with 1000 lines queued: %.0f frames/s, %s\n", rate,
                rate >= 2000.0 ? "met" : "NOT met");
    return 0;
}
