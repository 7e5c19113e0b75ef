#include "FileListing.h"

#include "core/common/DateFormats.h"
#include "core/events/EventLine.h"
#include "core/events/EventTypes.h"
#include "core/import/ImportRepository.h"
#include "core/import/ReceiverRecord.h"
#include "core/store/TransactionGuard.h"

#include <QSqlError>

#include <utility>

namespace tulmo {

namespace {

QString recordName(const ReceiverFile::Record &r) {
    return QStringLiteral("registro %1 (posição %2)").arg(r.number).arg(r.offset);
}

} // namespace

FileListing::FileListing(const QDateTime &now, bool fromFile)
    : m_importTime(now)
    , m_fromFile(fromFile)
    , m_decoder(m_clock, m_settings) {
    m_clock.m_now = now;
}

// One read-only transaction per block, so no transaction stays open while the file is read.
ImportSummary FileListing::run(const QString &fileName, QSqlDatabase db,
                               const Callbacks &callbacks) {
    m_summary = ImportSummary{};
    m_summary.fileName = fileName;
    ReceiverFile file;
    QString error;
    if (!file.open(fileName, &error)) {
        m_summary.error = error;
        return m_summary;
    }
    callbacks.progress(0, file.recordCount());
    QList<ReceiverFile::Record> block;
    while (!file.atEnd()) {
        if (!file.readBlock(&block, &error)) {
            m_summary.error = error;
            return m_summary;
        }
        TransactionGuard transaction(db);
        if (!transaction.begun()) {
            m_summary.error = QStringLiteral("Houve um erro ao ler o banco de dados: %1")
                                  .arg(db.lastError().text().simplified());
            return m_summary;
        }
        ImportRepository repo(db);
        // The rows read so far are listed, also when the database stops the run.
        auto endBlock = [&] {
            m_summary.listed += int(m_blockRows.size());
            callbacks.rowsListed(std::exchange(m_blockRows, {}));
            callbacks.progress(m_summary.records, file.recordCount());
        };
        for (const ReceiverFile::Record &r : std::as_const(block)) {
            if (!callbacks.goOn()) return m_summary;
            ++m_summary.records;
            if (!listRecord(r, repo)) {
                endBlock();
                return m_summary;
            }
        }
        transaction.commit();
        endBlock();
    }
    m_summary.complete = true;
    return m_summary;
}

bool FileListing::listRecord(const ReceiverFile::Record &r, ImportRepository &repo) {
    if (r.digits.size() < ReceiverRecord::kDigits) {
        leaveOut(r, QStringLiteral("o arquivo termina no meio do registro (%1 de %2 bytes)")
                        .arg(r.digits.size() / 2)
                        .arg(ReceiverRecord::kSize));
        return true;
    }
    if (!ReceiverRecord::isEvent(r.digits)) return true;
    ++m_summary.events;
    QString problem;
    const auto event = ReceiverRecord::decode(r.digits, &problem);
    if (!event) {
        leaveOut(r, problem);
        return true;
    }
    if (m_fromFile) m_clock.m_now = event->when;
    const QString line = m_decoder.Decodifica_Eventos(event->frame);
    const auto ev = eventline::parse(line);
    const QDateTime data = ev ? eventline::parseDateTime(ev->dataHora) : QDateTime();
    if (!ev || !data.isValid()) {
        leaveOut(r, QStringLiteral("evento ilegível"));
        return true;
    }
    bool found = false;
    if (!repo.isRecorded(ev->conta, ev->codigo, ev->zonaUsuario, ev->particao.toInt(), data,
                         &found)) {
        m_summary.error = QStringLiteral("Houve um erro ao consultar os eventos gravados: %1")
                              .arg(repo.lastError().text().simplified());
        return false;
    }
    if (found) {
        ++m_summary.duplicates;
        return true;
    }
    ImportRow row;
    row.conta = ev->conta;
    row.data = data.toString(DateFormats::kDateTime);
    row.codigo = ev->codigo;
    row.argumento = ev->zonaUsuario;
    row.particao = ev->particao;
    row.string1 = event->frame + QChar(0x14);
    row.string2 = line;
    row.ideCall = event->ideCall;
    if (!describe(repo, row)) {
        m_summary.error = QStringLiteral("Houve um erro ao ler os cadastros: %1")
                              .arg(repo.lastError().text().simplified());
        return false;
    }
    m_blockRows.append(row);
    return true;
}

// The client, the code's description and type, the partition's name, and the user's or zone's
// description as the recording would write them.
bool FileListing::describe(ImportRepository &lookups, ImportRow &row) {
    auto cached = [](auto &cache, const QString &key, auto read, auto *out) {
        const auto it = cache.constFind(key);
        if (it != cache.constEnd()) {
            *out = *it;
            return true;
        }
        if (!read(out)) return false;
        cache.insert(key, *out);
        return true;
    };
    if (!cached(
            m_clients, row.conta, [&](QString *o) { return lookups.readClientName(row.conta, o); },
            &row.cliente))
        return false;
    EventCodeRow code;
    if (!cached(
            m_codes, row.codigo,
            [&](EventCodeRow *o) { return lookups.readEventCode(row.codigo, o); }, &code))
        return false;
    const int particao = row.particao.toInt();
    row.nomeParticao = QStringLiteral("PARTIÇÃO ") + row.particao;
    QString nome;
    if (!cached(
            m_partitions, row.conta + QLatin1Char('|') + QString::number(particao),
            [&](QString *o) { return lookups.readPartitionName(row.conta, particao, o); }, &nome))
        return false;
    if (!nome.isEmpty()) row.nomeParticao = nome;
    row.tipo = EventTypes::typeName(code.tipo);
    row.descricao = code.descricao;
    const bool users = code.tipo == QLatin1String("0") || code.tipo == QLatin1String("1");
    const bool zones = code.tipo == QLatin1String("2") || code.tipo == QLatin1String("3");
    if (!users && !zones) return true;
    if (row.cliente.isEmpty()) {
        row.descricao += QLatin1Char(' ') + row.argumento;
        return true;
    }
    const int numero = row.argumento.toInt();
    QString d;
    const QString key = row.conta + QLatin1Char('|') + QString::number(numero);
    const bool ok =
        users
            ? cached(
                  m_users, key,
                  [&](QString *o) { return lookups.readUserDescription(row.conta, numero, o); }, &d)
            : cached(
                  m_zones, key,
                  [&](QString *o) { return lookups.readZoneDescription(row.conta, numero, o); },
                  &d);
    if (!ok) return false;
    row.descricao += QLatin1Char(' ') + (d.isEmpty() ? QString::number(numero) : d);
    return true;
}

void FileListing::leaveOut(const ReceiverFile::Record &r, const QString &why) {
    if (++m_summary.problemCount <= ImportSummary::kProblemsKept)
        m_summary.problems << recordName(r) + QStringLiteral(": ") + why;
}

} // namespace tulmo
