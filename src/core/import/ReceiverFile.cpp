#include "ReceiverFile.h"

#include "core/common/RegularFile.h"
#include "core/import/ReceiverRecord.h"

#include <QDir>

namespace tulmo {

bool ReceiverFile::open(const QString &fileName, QString *error) {
    m_file.close();
    m_name = fileName;
    m_offset = 0;
    m_blocks = 0;
    // The operator may name anything: a FIFO or a device is refused, never waited on.
    const FileCheck check = openReadable(m_file, fileName, FileLimits::kReceiverFile);
    if (!check.ok()) {
        if (error)
            *error = check.missing() || check.status == FileCheck::Status::Unreadable
                         ? QStringLiteral("Não foi possível abrir o arquivo \"%1\": %2")
                               .arg(QDir::toNativeSeparators(fileName), check.reason)
                         : check.error;
        m_atEnd = true;
        return false;
    }
    m_size = m_file.size();
    m_atEnd = m_size == 0;
    return true;
}

int ReceiverFile::recordCount() const {
    return int((m_size + ReceiverRecord::kSize - 1) / ReceiverRecord::kSize);
}

bool ReceiverFile::readBlock(QList<Record> *records, QString *error) {
    records->clear();
    if (m_atEnd) return true;
    const QByteArray block = m_file.read(ReceiverRecord::kBlockSize);
    if (block.isEmpty() && m_offset < m_size) {
        if (error)
            *error = QStringLiteral("Erro de leitura no arquivo \"%1\" na posição %2: %3")
                         .arg(QDir::toNativeSeparators(m_name))
                         .arg(m_offset)
                         .arg(m_file.errorString());
        m_atEnd = true;
        return false;
    }
    ++m_blocks;
    for (qsizetype at = 0; at < block.size(); at += ReceiverRecord::kSize) {
        Record r;
        r.offset = m_offset + at;
        r.number = int(r.offset / ReceiverRecord::kSize) + 1;
        r.digits = ReceiverRecord::digits(QByteArrayView(block).sliced(
            at, std::min<qsizetype>(ReceiverRecord::kSize, block.size() - at)));
        records->append(r);
    }
    m_offset += block.size();
    m_atEnd = m_offset >= m_size || block.size() < ReceiverRecord::kBlockSize;
    return true;
}

} // namespace tulmo
