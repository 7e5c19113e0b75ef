#pragma once

#include <QFile>
#include <QList>
#include <QString>

namespace tulmo {

// A receiver's event file read block by block (ReceiverRecord::kBlockSize bytes, 128 records),
// so a file of any size is read in steps that each take a moment.
class ReceiverFile {
public:
    // One record with where it stands, for the operator's messages.
    struct Record {
        int number = 0;    // 1 for the first record of the file
        qint64 offset = 0; // its first byte in the file
        QString digits;    // 64 hexadecimal digits; fewer for a last record cut short
    };

    // Opens the file: a regular file of at most FileLimits::kReceiverFile; false with the
    // reason (Portuguese) in error.
    bool open(const QString &fileName, QString *error);
    qint64 size() const { return m_size; }
    int recordCount() const; // counting a last record cut short
    bool atEnd() const { return m_atEnd; }

    // The records of the next block; false with the reason in error when the file could not
    // be read (the records read so far stand).
    bool readBlock(QList<Record> *records, QString *error);
    int blocksRead() const { return m_blocks; }

private:
    QFile m_file;
    QString m_name;
    qint64 m_size = 0;
    qint64 m_offset = 0;
    int m_blocks = 0;
    bool m_atEnd = true;
};

} // namespace tulmo
