#pragma once

#include "common/Prompt.h"
#include "common/Sound.h"
#include "reception/SlotWriter.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

namespace tulmo::test {

// A prompt that records every message and answers questions from a script.
class ScriptedPrompt : public Prompt {
public:
    struct Shown {
        QString text, caption;
        Icon icon;
    };
    void message(const QString &text, const QString &caption, Icon icon) override {
        shown.append({text, caption, icon});
        if (onMessage) onMessage(text);
    }
    bool question(const QString &text, const QString &caption, Icon icon, bool) override {
        shown.append({text, caption, icon});
        return answers.isEmpty() ? false : answers.takeFirst();
    }
    QList<Shown> shown;
    QList<bool> answers;
    std::function<void(const QString &)> onMessage;
};

// Records what the console asked of its sound output.
class RecordingSound : public SoundOutput {
public:
    void stopPlayer() override { calls << QStringLiteral("stop"); }
    void playRepeating(const QString &path) override { calls << QStringLiteral("loop:") + path; }
    void playOnce(const QString &path) override { calls << QStringLiteral("once:") + path; }
    QStringList calls;
};

// A pseudo-terminal: the console opens the slave side as a serial port, the test reads and
// writes the master side as the receiver would.
class Pty {
public:
    Pty();
    ~Pty();
    bool ok() const { return m_master >= 0; }
    const QString &slavePath() const { return m_slave; }
    // Reads what is available within timeoutMs (processing Qt events meanwhile).
    QByteArray readAll(int timeoutMs = 1000, qsizetype atLeast = 1);
    bool write(const QByteArray &bytes);

private:
    int m_master = -1;
    int m_slaveFd = -1;
    QString m_slave;
};

// Runs sql on db and fails loudly when it fails.
void exec(QSqlDatabase db, const QString &sql);
void exec(QSqlDatabase db, const QString &sql, const QVariantMap &params);
// The first column of the first row (invalid when no row).
QVariant scalar(QSqlDatabase db, const QString &sql, const QVariantMap &params = {});
// All rows of the first column.
QVariantList column(QSqlDatabase db, const QString &sql, const QVariantMap &params = {});
// Column names of a table, upper case, in position order.
QStringList columnsOf(QSqlDatabase db, const QString &table);

// Writes a Config.ini mapping COMn to a device, in dataDir.
void mapPort(const QString &dataDir, int comNumber, const QString &device);

} // namespace tulmo::test
