#pragma once

#include <QList>
#include <QString>

namespace tulmo {

class RejectLog;

// A first-in, first-out list of text lines mirrored to a file (one line each, CR LF).
// Serves the event queue (Dados/Eventos_Log.dat) and the repeater queue.
//
// What the file holds is always complete: an append is written at the end of the file and
// flushed to the disk before it returns, so whatever the caller acknowledges afterwards
// is on disk; a removal writes the whole list to a temporary file, flushes it and renames
// it over the queue, so a crash leaves either the old or the new list, never a truncated one.
class EventQueue {
public:
    enum class LoadStatus { Loaded, CreatedEmpty, Unreadable };

    explicit EventQueue(QString filePath);
    ~EventQueue();
    EventQueue(const EventQueue &) = delete;
    EventQueue &operator=(const EventQueue &) = delete;

    const QString &filePath() const { return m_path; }

    // Reads the file. A missing file is created empty; an unreadable one leaves the queue
    // empty and the reason in error. With tornLineLog, a last line without its CR LF (an
    // append cut short by a power failure, so never acknowledged) goes there with the
    // moment when, and out of the file, rather than being queued as a shortened line.
    LoadStatus load(QString *error = nullptr, RejectLog *tornLineLog = nullptr,
                    const QString &when = QString());

    // Adds the line at the end and flushes it to the disk. Line breaks inside the line
    // become blanks. False when the line could not be made durable (it is then not queued).
    bool append(const QString &line, QString *error = nullptr);
    // Removes the first line (the file is replaced atomically).
    bool removeHead(QString *error = nullptr);
    // Removes the last line (the file import takes back the line it has just added).
    bool removeLast(QString *error = nullptr);

    bool isEmpty() const { return m_lines.isEmpty(); }
    qsizetype size() const { return m_lines.size(); }
    QString head() const { return m_lines.isEmpty() ? QString() : m_lines.first(); }
    const QList<QString> &lines() const { return m_lines; }

private:
    bool rewrite(QString *error);
    bool openForAppend(QString *error);
    void closeAppend();

    QString m_path;
    QList<QString> m_lines;
    int m_fd = -1;
};

// Appends lines that can never be recorded, each with the moment and the reason, to
// Dados/Eventos_Rejeitados.dat: "<line> | <dd/MM/yyyy HH:mm:ss> | <reason>".
class RejectLog {
public:
    explicit RejectLog(QString filePath)
        : m_path(std::move(filePath)) {}
    const QString &filePath() const { return m_path; }
    bool append(const QString &line, const QString &when, const QString &reason,
                QString *error = nullptr);

private:
    QString m_path;
};

} // namespace tulmo
