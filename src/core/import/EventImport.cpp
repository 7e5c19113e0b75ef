#include "EventImport.h"

#include "events/EventLine.h"
#include "events/EventTypes.h"
#include "import/ImportRepository.h"
#include "import/ReceiverRecord.h"
#include "store/Database.h"
#include "store/TransactionGuard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

namespace tulmo {

namespace {

constexpr int kProblemsShown = 10;

QString recordName(const ReceiverFile::Record &r) {
    return QStringLiteral("registro %1 (posição %2)").arg(r.number).arg(r.offset);
}

} // namespace

QString ImportSummary::message() const {
    const QString file = QDir::toNativeSeparators(fileName);
    QString text;
    if (!error.isEmpty()) {
        // A file that could not be opened has nothing listed to speak of.
        if (records == 0) return error;
        text = error;
        text +=
            QStringLiteral("\n\nA leitura parou aí; os eventos lidos até então estão na lista.");
    } else if (records == 0) {
        return QStringLiteral("O arquivo \"%1\" está vazio: não há eventos a importar.").arg(file);
    } else if (events == 0) {
        text = QStringLiteral("O arquivo \"%1\" não é um arquivo de eventos de receptora: nenhum "
                              "dos seus %2 registros é um evento.")
                   .arg(file)
                   .arg(records);
    } else if (problemCount > 0 && listed + duplicates == 0) {
        text = QStringLiteral("O arquivo \"%1\" não parece ser um arquivo de eventos de "
                              "receptora: nenhum dos seus registros de evento pôde ser lido.")
                   .arg(file);
    } else if (problemCount > 0) {
        text = QStringLiteral("%1 registro(s) do arquivo \"%2\" não puderam ser lidos e ficaram "
                              "fora da lista; os demais eventos foram listados.")
                   .arg(problemCount)
                   .arg(file);
    } else {
        return QString();
    }
    if (!problems.isEmpty()) {
        text += QLatin1String("\n");
        for (int i = 0; i < problems.size() && i < kProblemsShown; ++i)
            text += QLatin1String("\n") + problems.at(i);
        if (problemCount > kProblemsShown)
            text += QStringLiteral("\n… e mais %1.").arg(problemCount - kProblemsShown);
    }
    return text;
}

EventImport::EventImport(Database &database, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_clock(clock)
    , m_decoder(m_clock, m_settings) {
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &EventImport::slice);
}

bool EventImport::ProcessaArquivo(const QString &fileName, TimeSource source) {
    cancel();
    m_source = source;
    m_summary = ImportSummary{};
    m_summary.fileName = fileName;
    m_block.clear();
    m_blockRows.clear();
    m_next = 0;
    m_clients.clear();
    m_codes.clear();
    m_partitions.clear();
    m_users.clear();
    m_zones.clear();
    QString error;
    if (!m_file.open(fileName, &error)) {
        m_summary.error = error;
        emit finished(m_summary);
        return false;
    }
    emit progress(0, m_file.recordCount());
    m_timer.start();
    return true;
}

void EventImport::cancel() {
    m_timer.stop();
}

void EventImport::finishNow() {
    while (running())
        slice();
}

void EventImport::slice() {
    const QDeadlineTimer budget(kSliceMs);
    QSqlDatabase db = m_database.primary();
    TransactionGuard transaction(db);
    if (!transaction.begun()) {
        m_summary.error = QStringLiteral("Houve um erro ao ler o banco de dados: %1")
                              .arg(db.lastError().text().simplified());
        return finish(false);
    }
    ImportRepository repo(db);
    do {
        if (m_next >= m_block.size()) {
            if (!m_block.isEmpty()) endBlock();
            if (m_file.atEnd()) {
                transaction.commit();
                return finish(true);
            }
            QString error;
            if (!m_file.readBlock(&m_block, &error)) {
                m_summary.error = error;
                transaction.commit();
                return finish(false);
            }
            m_next = 0;
            continue;
        }
        const ReceiverFile::Record &r = m_block.at(m_next++);
        ++m_summary.records;
        if (!listRecord(r, repo)) return finish(false);
    } while (!budget.hasExpired());
    transaction.commit();
    emit progress(m_summary.records, m_file.recordCount());
}

bool EventImport::listRecord(const ReceiverFile::Record &r, ImportRepository &repo) {
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
    m_clock.m_fixed.reset();
    if (m_source == TimeSource::FromFile) m_clock.m_fixed = event->when;
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
    row.data = data.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
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
bool EventImport::describe(ImportRepository &lookups, ImportRow &row) {
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

void EventImport::leaveOut(const ReceiverFile::Record &r, const QString &why) {
    if (++m_summary.problemCount <= ImportSummary::kProblemsKept)
        m_summary.problems << recordName(r) + QStringLiteral(": ") + why;
}

void EventImport::endBlock() {
    m_summary.listed += int(m_blockRows.size());
    const QList<ImportRow> rows = std::move(m_blockRows);
    m_blockRows.clear();
    m_block.clear();
    m_next = 0;
    emit rowsListed(rows);
}

void EventImport::finish(bool complete) {
    m_timer.stop();
    if (!m_blockRows.isEmpty()) endBlock();
    m_summary.complete = complete;
    emit progress(m_summary.records, m_file.recordCount());
    emit finished(m_summary);
}

} // namespace tulmo
