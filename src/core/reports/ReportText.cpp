#include "core/reports/ReportText.h"

#include "core/reports/ReportRepository.h"
#include "core/store/TransactionGuard.h"

#include <QSaveFile>

#include <cmath>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace tulmo {

namespace {

// A large file is handed to the disk a little at a time as it grows, rather than left for the
// kernel to write back in one burst of tens of megabytes: a flush of the event queue on the
// same disk meanwhile waits behind a quarter of a megabyte at most, not behind the whole file.
class WriteBack {
public:
    explicit WriteBack(QFileDevice &file)
        : m_file(file) {}
    void step() {
#ifdef Q_OS_LINUX
        const qint64 at = m_file.pos();
        if (at - m_done < kChunk || !m_file.flush()) return;
        if (m_file.handle() >= 0)
            ::sync_file_range(m_file.handle(), m_done, at - m_done,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER);
        m_done = at;
#endif
    }

private:
    static constexpr qint64 kChunk = 256 * 1024;
    QFileDevice &m_file;
    qint64 m_done = 0;
};

// Characters per millimetre of the grid.
constexpr double kColumnsPerMm = 1.7 / ReportTextPage::kLineHeight;

int roundHalfUp(double v) {
    return int(std::floor(v + 0.5));
}

} // namespace

int ReportTextPage::line(double yMm) {
    return roundHalfUp(yMm / kLineHeight);
}

int ReportTextPage::column(double xMm) {
    return roundHalfUp(xMm * kColumnsPerMm);
}

ReportTextPage::ReportTextPage() {
    m_lines.resize(line(ReportLayout::kPageHeight) + 1);
}

void ReportTextPage::put(const ReportItem &item, double bandTop, const QString &value) {
    QString text = value;
    if (item.width > 0) text.truncate(roundHalfUp(item.width * kColumnsPerMm));
    if (text.isEmpty()) return; // an empty text prints nothing
    const double left = ReportLayout::kLeftMargin + item.left;
    int start = column(left);
    if (item.align == ReportItem::Align::Right) {
        start = column(left + item.width) - int(text.size());
    } else if (item.align == ReportItem::Align::Centre) {
        start = column(left + item.width / 2) - int(text.size()) / 2;
    }
    start = qMax(1, start);
    const int l = line(bandTop + item.top);
    if (l < 0 || l >= m_lines.size()) return;
    QString &s = m_lines[l];
    if (s.size() < start - 1) s.append(QString(start - 1 - s.size(), QLatin1Char(' ')));
    s.replace(start - 1, text.size(), text);
}

QByteArray ReportTextPage::bytes() const {
    QByteArray out;
    for (const QString &l : m_lines) {
        if (l.isEmpty()) continue;
        out += l.toUtf8();
        out += "\r\n";
    }
    return out;
}

bool ExportReportText(QSqlDatabase db, const ReportStatement &st, const ReportLayout &layout,
                      const ReportPageInfo &info, const QString &path, QString *error,
                      const std::atomic_bool *cancel) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    // Read only: the snapshot is given back whatever happens.
    TransactionGuard snapshot(db);
    const std::optional<qint64> rows = ReportRepository::count(db, st, error);
    if (!rows) {
        file.cancelWriting();
        return false;
    }
    ReportPageInfo page = info;
    page.page = 0;
    page.pageCount = layout.pageCount(*rows);
    ReportTextPage text;
    auto newPage = [&] {
        text = ReportTextPage();
        for (const ReportItem &i : layout.header.items)
            text.put(i, layout.headerTop(), ReportLayout::itemText(i, nullptr, page));
        for (const ReportItem &i : layout.footer.items)
            text.put(i, layout.footerTop(), ReportLayout::itemText(i, nullptr, page));
    };
    bool written = true;
    WriteBack writeBack(file);
    auto endPage = [&] {
        written = written && file.write(text.bytes()) >= 0;
        writeBack.step();
        ++page.page;
        newPage();
    };
    const int perPage = layout.rowsPerPage();
    newPage();
    int onPage = 0;
    const bool read = ReportRepository::forEach(
        db, st,
        [&](const ReportRow &row) {
            if (cancel && cancel->load()) return false;
            if (onPage == perPage) {
                endPage();
                onPage = 0;
            }
            for (const ReportItem &i : layout.detail.items)
                text.put(i, layout.detailTop(onPage), ReportLayout::itemText(i, &row, page));
            ++onPage;
            return true;
        },
        error);
    if (!read) {
        if (cancel && cancel->load() && error) *error = QStringLiteral("Cancelado pelo operador");
        file.cancelWriting();
        return false;
    }
    // The summary follows the last event, on a page of its own when it does not fit there.
    if (layout.pageCount(onPage) > 1) {
        endPage();
        onPage = 0;
    }
    for (const ReportItem &i : layout.summary.items)
        text.put(i, layout.detailTop(onPage), ReportLayout::itemText(i, nullptr, page));
    written = written && file.write(text.bytes()) >= 0;
    if (!written || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace tulmo
