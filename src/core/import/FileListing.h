#pragma once

#include "core/common/Clock.h"
#include "core/events/EventDecoder.h"
#include "core/events/RecordingRepository.h"
#include "core/import/EventImport.h"
#include "core/import/ReceiverFile.h"
#include "core/settings/LiveSettings.h"

#include <QHash>
#include <QSqlDatabase>

#include <functional>

namespace tulmo {

class ImportRepository;

// The listing of one receiver file, from its first block to its last, on the connection it is
// given: the worker of EventImport. Each block's rows go to rowsListed as the block ends.
class FileListing {
public:
    struct Callbacks {
        std::function<void(int done, int total)> progress;
        std::function<void(const QList<ImportRow> &rows)> rowsListed;
        std::function<bool()> goOn; // false: abandon the run
    };

    // now: the time of "Atual"; fromFile: each event takes its record's time instead.
    FileListing(const QDateTime &now, bool fromFile);
    ImportSummary run(const QString &fileName, QSqlDatabase db, const Callbacks &callbacks);

private:
    class FixedClock : public Clock {
    public:
        QDateTime now() const override { return m_now; }
        QDateTime m_now;
    };

    // false: the database failed (m_summary.error says why).
    bool listRecord(const ReceiverFile::Record &r, ImportRepository &repo);
    bool describe(ImportRepository &lookups, ImportRow &row);
    void leaveOut(const ReceiverFile::Record &r, const QString &why);

    QDateTime m_importTime;
    bool m_fromFile;
    FixedClock m_clock;
    LiveSettings m_settings; // the listing's own: decoding never reads the receiver's clock
    EventDecoder m_decoder;
    ImportSummary m_summary;
    QList<ImportRow> m_blockRows;
    // Look-ups of one run.
    QHash<QString, QString> m_clients;
    QHash<QString, EventCodeRow> m_codes;
    QHash<QString, QString> m_partitions, m_users, m_zones;
};

} // namespace tulmo
