#pragma once

// The devices of the benchmarks that measure a console under many connections: the
// simulator's GPRS modules in a process forked before the console starts, so that they have a
// CPU and an event loop of their own, ordered by the console over a pipe and answering over
// another.

#include "BenchStats.h"
#include "core/common/DescriptorLimit.h"
#include "sim/GprsFleet.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

namespace tulmo::bench {

// As many open files as the system lets this process have: one a connection.
inline void raiseFileLimit() {
    raiseDescriptorLimit();
}

// All n bytes through io (a read or a write of the bytes at c), across interruptions and
// short transfers; false once io fails or meets the end.
template <typename Byte, typename Io> bool whole(Byte *c, size_t n, Io io) {
    while (n > 0) {
        const ssize_t k = io(c, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        c += k;
        n -= size_t(k);
    }
    return true;
}

inline bool writeAll(int fd, const void *p, size_t n) {
    return whole(static_cast<const char *>(p), n,
                 [fd](const char *c, size_t k) { return ::write(fd, c, k); });
}

inline bool readAll(int fd, void *p, size_t n) {
    return whole(static_cast<char *>(p), n, [fd](char *c, size_t k) { return ::read(fd, c, k); });
}

// The Qt application of the devices' process.
struct DevicesApp {
    int argc = 1;
    char name[16] = "bench-modules";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

// n modules dialing the console on the loopback port, as fast as it takes them: module i
// is IMEI i (six digits) and account firstAccount + i % accounts; no heartbeat and no events
// until told.
inline sim::GprsFleet::Settings loopbackModules(quint16 port, int n, int firstAccount,
                                                int accounts) {
    sim::GprsFleet::Settings s = sim::GprsFleet::Settings::whenTold(port, n, 0, firstAccount);
    s.accounts = accounts;
    s.dialEveryMs = 0;
    s.dialTogether = 200; // the console's listener keeps a thousand waiting
    return s;
}

// Dials every module and, once all have had the console's "&" or a minute has gone, writes
// how many have (an int) to fd.
inline void dialAndTell(sim::GprsFleet &fleet, int n, int fd) {
    fleet.start();
    auto *check = new QTimer(&fleet);
    const int64_t t0 = monoNs();
    QObject::connect(check, &QTimer::timeout, &fleet, [&fleet, check, n, fd, t0] {
        if (fleet.greeted() < n && monoNs() - t0 < int64_t(60) * 1000000000) return;
        check->stop();
        const int greeted = fleet.greeted();
        writeAll(fd, &greeted, sizeof greeted);
    });
    check->start(20);
}

// The devices' process, forked now: it runs devices(ordersFd, answersFd), which does not
// return; this one keeps the other ends, to order (cmd) and to hear (rep). pid -1: no pipes.
struct DevicesProcess {
    pid_t pid = -1;
    int cmd = -1, rep = -1;
};
template <typename F> DevicesProcess forkDevices(F devices) {
    int cmd[2], rep[2];
    if (pipe(cmd) != 0 || pipe(rep) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(cmd[1]);
        ::close(rep[0]);
        devices(cmd[0], rep[1]);
        _exit(0);
    }
    ::close(cmd[0]);
    ::close(rep[1]);
    return {pid, cmd[1], rep[0]};
}

} // namespace tulmo::bench
