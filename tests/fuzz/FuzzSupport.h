#pragma once

// What the fuzzers share: one Qt application for the process, a scratch folder on a memory
// file system when there is one (the queue flushes to the disk on every load), and the two
// ways a fuzzer reports a broken property.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tulmo::fuzz {

inline QByteArray bytesOf(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The decoders warn through Qt about what they turn away (a query on a closed database, a
// file that does not open): at thousands of inputs a second that is noise, not a finding.
inline void startQt(int *argc, char ***argv) {
    static QCoreApplication *app = nullptr;
    if (app) return;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "qFatal: %s\n", qPrintable(msg));
            std::abort();
        }
    });
    app = new QCoreApplication(*argc, *argv);
}

// A folder of the process's own; /dev/shm keeps the flushes of the queue off the disk.
inline const QTemporaryDir &scratch() {
    static const QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                       ? QStringLiteral("/dev/shm/tulmo-fuzz-XXXXXX")
                                       : QDir::tempPath() + QStringLiteral("/tulmo-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no scratch folder\n");
        std::abort();
    }
    return dir;
}

// Control characters as \xNN, so a detail prints whole.
inline QByteArray printable(const QString &text) {
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += "\\x" + QByteArray::number(c.unicode(), 16).rightJustified(2, '0');
        else
            out += QString(c).toUtf8();
    }
    return out;
}

// A property that must hold: the input that breaks it stops the run, and libFuzzer keeps it
// as a crash file.
[[noreturn]] inline void broken(const char *what, const QByteArray &input,
                                const QString &detail = QString()) {
    std::fprintf(stderr, "\nPROPRIEDADE VIOLADA: %s\n  %s\n  entrada (hex): %s\n", what,
                 printable(detail).constData(), input.left(2048).toHex().constData());
    std::abort();
}

// A breach of the acknowledgement properties: broken() with TULMO_FUZZ_STRICT_ACK on. Off, it is
// counted by kind (the reason up to its colon), the first inputs of each kind printed, and the
// counts printed when the run ends.
inline void breach(const char *what, const QByteArray &input, const QString &reason,
                   const QString &detail) {
#ifdef TULMO_FUZZ_STRICT_ACK
    broken(what, input, reason + QStringLiteral(" | ") + detail);
#else
    static QHash<QByteArray, qint64> counts;
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit([] {
            for (auto it = counts.cbegin(); it != counts.cend(); ++it)
                std::fprintf(stderr, "ACHADO (sem TULMO_FUZZ_STRICT_ACK): %lld entradas: %s\n",
                             static_cast<long long>(it.value()), it.key().constData());
        });
    }
    const QByteArray kind =
        QByteArray(what) + " (" + reason.section(QLatin1Char(':'), 0, 0).toUtf8() + ")";
    static QSet<QByteArray> shown; // libFuzzer runs a new unit again: print it once
    if (++counts[kind] > 3 || shown.contains(input)) return;
    shown.insert(input);
    std::fprintf(stderr, "\nACHADO: %s\n  %s | %s\n  entrada (hex): %s\n", kind.constData(),
                 printable(reason).constData(), printable(detail).constData(),
                 input.left(512).toHex().constData());
#endif
}

} // namespace tulmo::fuzz
