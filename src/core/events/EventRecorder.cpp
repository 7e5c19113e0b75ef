#include "EventRecorder.h"

#include "core/common/Clock.h"
#include "core/common/Sound.h"
#include "core/common/TextCodec.h"
#include "core/events/EventQueue.h"
#include "core/events/PriorityLane.h"
#include "core/events/EventTypes.h"
#include "core/events/RecordingRepository.h"
#include "core/events/RecordingWorker.h"
#include "core/events/RunawayRepository.h"
#include "core/events/SharedRows.h"
#include "core/events/StationModes.h"
#include "core/reception/SlotWriter.h"
#include "core/store/Database.h"
#include "core/store/TransactionGuard.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <memory>
#include <optional>

namespace tulmo {

namespace {

constexpr int kSmsLength = 257;

bool toSmallint(const QString &text, int *out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < -32768 || v > 32767) return false;
    *out = v;
    return true;
}

// Why a recording stopped before its commit: the line's own data (reason), or a statement of
// the database (what it was doing, and the database's error).
struct Stop {
    bool database = false;
    QString reason;
    QSqlError dbError;
    bool commit = false; // the commit itself failed: the driver has lost that transaction
};
using Step = std::optional<Stop>;

Step badData(const QString &reason) {
    return Stop{false, reason, {}, false};
}
Step dbFailed(const QString &what, const QSqlError &dbError) {
    return Stop{true, what, dbError, false};
}

// What one recording read and decided. The sound, the SMS and the refreshes come from it once
// the transaction is committed.
struct Recording {
    DecodedEvent ev;
    QDateTime now;
    bool readSmsReceivers = false;
    RunawayWatch *runaway = nullptr;
    const StationModes *modes = nullptr; // the accounts on test and the storm mode
    bool suppressed = false; // recorded without being raised or sounded
    bool onTest = false;     // nor sent by SMS
    QString mark = QStringLiteral("DISPARO"); // EVENTOS.SUPRESSAO of a suppressed event
    bool flagged = false;    // this event made its account runaway

    AccountRow account;
    EventCodeRow code;
    int particao = 0;
    int numeroZonaUsuario = 0;
    bool zonaNumerica = false;
    EventRow row;

    bool disarmedChanged = false;
    bool awaitingArmChanged = false;
    QString warning;
    QList<int> smsReceivers;

    bool registered() const { return !account.nome.isEmpty(); }
};

Step lookUpAccountAndCode(RecordingRepository &repo, Recording &r) {
    if (!repo.readAccount(r.ev.conta, &r.account))
        return dbFailed(QStringLiteral("ler a conta"), repo.lastError());
    if (!repo.readEventCode(r.ev.codigo, &r.code))
        return dbFailed(QStringLiteral("ler o código do evento"), repo.lastError());
    return std::nullopt;
}

// What can never be stored is turned away before anything changes. A zone or user that is
// no number (Contact ID hex digits, "0BC") is stored as received, its description not looked up.
Step checkLineData(Recording &r) {
    if (!eventline::contactIdNumber(r.ev.particao, &r.particao))
        return badData(QStringLiteral("partição inválida: \"%1\"").arg(r.ev.particao));
    r.row.data = eventline::parseDateTime(r.ev.dataHora);
    if (!r.row.data.isValid())
        return badData(QStringLiteral("data e hora inválidas: \"%1\"").arg(r.ev.dataHora));
    r.zonaNumerica = toSmallint(r.ev.zonaUsuario, &r.numeroZonaUsuario);
    return std::nullopt;
}

// Any event is a sign of life.
Step keepAlive(RecordingRepository &repo, const Recording &r) {
    if (!repo.markSignOfLife(r.ev.conta, r.now))
        return dbFailed(QStringLiteral("atualizar a conta"), repo.lastError());
    return std::nullopt;
}

void fillRow(Recording &r) {
    EventRow &e = r.row;
    e.conta = r.ev.conta;
    e.cliente = r.registered() ? r.account.nome : QStringLiteral("Não Cadastrado");
    e.codigoAlarme = r.ev.codigo;
    e.argumento = r.ev.zonaUsuario;
    e.numeroParticao = r.particao;
    e.nomeParticao = QStringLiteral("PARTIÇÃO ") + r.ev.particao;
    e.descricao = r.code.descricao;
    e.tipo = r.code.tipo;
    e.dataIntervencao = r.now;
    e.detalhes = QStringLiteral("Evento Padrão");
    e.idecall = r.ev.idecall;
    e.tratado = r.code.registroAutomatico;
    e.prioridade = r.code.prioridade;
}

Step lookUpPartitionName(RecordingRepository &repo, Recording &r) {
    QString nome;
    if (!repo.readPartitionName(r.ev.conta, r.particao, &nome))
        return dbFailed(QStringLiteral("ler a partição"), repo.lastError());
    if (!nome.isEmpty()) r.row.nomeParticao = nome;
    return std::nullopt;
}

// The user's or zone's description after the code's; its number when it has none, and the
// text as received when the account is not registered.
Step describe(RecordingRepository &repo, Recording &r, bool zona) {
    if (!r.registered() || !r.zonaNumerica) {
        r.row.descricao += QLatin1Char(' ') + r.ev.zonaUsuario;
        return std::nullopt;
    }
    QString d;
    const bool ok = zona ? repo.readZoneDescription(r.ev.conta, r.numeroZonaUsuario, &d)
                         : repo.readUserDescription(r.ev.conta, r.numeroZonaUsuario, &d);
    if (!ok) return dbFailed(QStringLiteral("ler a descrição"), repo.lastError());
    r.row.descricao += QLatin1Char(' ') + (d.isEmpty() ? QString::number(r.numeroZonaUsuario) : d);
    return std::nullopt;
}

Step setDesarmados(RecordingRepository &repo, Recording &r, int value) {
    if (!repo.setDesarmados(r.ev.conta, value))
        return dbFailed(QStringLiteral("atualizar DESARMADOS da conta"), repo.lastError());
    r.disarmedChanged = true;
    return std::nullopt;
}

Step setRearme(RecordingRepository &repo, Recording &r, int value) {
    if (!repo.setRearme(r.ev.conta, value))
        return dbFailed(QStringLiteral("atualizar REARME da conta"), repo.lastError());
    r.awaitingArmChanged = true;
    return std::nullopt;
}

// A disarm during an hour the schedule marks armed is announced once the event is stored.
Step checkSchedule(RecordingRepository &repo, Recording &r) {
    bool marcado = false;
    if (!repo.readScheduleMarked(r.ev.conta, EventRecorder::weekdayCode(r.now.date()),
                                 QTime(r.now.time().hour(), 0, 0), &marcado))
        return dbFailed(QStringLiteral("ler o quadro de horários"), repo.lastError());
    if (marcado)
        r.warning =
            QStringLiteral("Cliente ") + r.account.nome + QStringLiteral(" Entrou fora do horário");
    return std::nullopt;
}

// By the type number: the name written to EVENTOS.TIPO, the description and the account's
// supervision columns.
Step classify(RecordingRepository &repo, Recording &r) {
    const QString &tipo = r.code.tipo;
    r.row.tipo = EventTypes::typeName(tipo);
    if (tipo == QLatin1String("0")) {
        if (Step s = describe(repo, r, false)) return s;
        if (Step s = setDesarmados(repo, r, 1)) return s;
        return checkSchedule(repo, r);
    }
    if (tipo == QLatin1String("1")) {
        if (Step s = describe(repo, r, false)) return s;
        if (Step s = setDesarmados(repo, r, 0)) return s;
        return setRearme(repo, r, 0);
    }
    if (tipo == QLatin1String("2") || tipo == QLatin1String("3")) return describe(repo, r, true);
    if (tipo == QLatin1String("10")) r.row.cliente = QStringLiteral("EVENTO INTERNO");
    return std::nullopt;
}

// An account over its limit of signals: the event that takes it over is told to the operators
// once, as an internal event; from then on its events are stored as treated, marked, and not
// sounded.
Step checkRunaway(RecordingRepository &repo, Recording &r) {
    if (!r.runaway || r.row.conta.trimmed().isEmpty() || r.code.tipo == QLatin1String("10"))
        return std::nullopt;
    const QDateTime at = r.row.data.isValid() ? r.row.data : r.now;
    const RunawayWatch::Verdict v = r.runaway->note(r.row.conta, at);
    if (v == RunawayWatch::Verdict::Normal) return std::nullopt;
    r.suppressed = true;
    r.row.tratado = 1;
    if (v == RunawayWatch::Verdict::Runaway) {
        if (!repo.noteRunaway(r.row.conta, at))
            return dbFailed(QStringLiteral("atualizar a conta em disparo"), repo.lastError());
        return std::nullopt;
    }
    r.flagged = true;
    const RunawayWatch::Limits l = r.runaway->limits();
    const InternalEvent notice = InternalEvent::stationNotice(
        QStringLiteral("Conta %1 em disparo: mais de %2 sinais em %3 min")
            .arg(r.row.conta.trimmed())
            .arg(l.events)
            .arg(l.minutes),
        r.now);
    if (!repo.flagRunaway(r.row.conta, at) || !repo.insertEvent(notice.row(r.now)))
        return dbFailed(QStringLiteral("marcar a conta em disparo"), repo.lastError());
    return std::nullopt;
}

// An account on test, or a routine signal during a storm: recorded as treated, marked, and
// neither raised nor sounded; the runaway count leaves it out.
void checkModes(Recording &r) {
    if (!r.modes || r.row.conta.trimmed().isEmpty()) return;
    // By the station's clock, which the operator set the test by: a panel's own clock may be
    // hours off.
    const std::optional<QString> mark = r.modes->suppression(
        r.row.conta, r.code.tipo, r.zonaNumerica, r.numeroZonaUsuario, r.now);
    if (!mark) return;
    r.suppressed = true;
    r.onTest = *mark == QLatin1String("TESTE");
    r.mark = *mark;
    r.row.tratado = 1;
}

// The statements of one line in their fixed order, inside the caller's transaction.
Step recordSteps(RecordingRepository &repo, Recording &r) {
    if (Step s = lookUpAccountAndCode(repo, r)) return s;
    if (Step s = checkLineData(r)) return s;
    if (Step s = keepAlive(repo, r)) return s;
    fillRow(r);
    if (Step s = lookUpPartitionName(repo, r)) return s;
    if (Step s = classify(repo, r)) return s;
    if (r.code.envioSms == 1 && r.readSmsReceivers) r.smsReceivers = repo.readSmsReceivers();
    checkModes(r);
    if (!r.suppressed)
        if (Step s = checkRunaway(repo, r)) return s;
    if (!(r.suppressed ? repo.insertSuppressed(r.row, r.mark) : repo.insertEvent(r.row)))
        return dbFailed(QStringLiteral("gravar o evento"), repo.lastError());
    return std::nullopt;
}

// What can be told of a line before the database is asked: why it can never be an event.
std::optional<QString> unreadable(const QString &line, DecodedEvent *out) {
    const QString why = eventline::unstorableReason(line);
    if (!why.isEmpty()) return why;
    *out = *eventline::parse(line);
    return std::nullopt;
}

// A continuous sound replaces the player's; any other event plays its one-shot sound beside
// it, so a routine event never silences an alarm the operator has not heard yet.
void playSound(SoundOutput *sound, const EventCodeRow &code) {
    if (!sound) return;
    if (code.somContinuo == 1) {
        if (!code.som.isEmpty()) sound->playRepeating(code.som);
    } else {
        sound->playOnce(code.som);
    }
}

// A failed write to one port does not keep the SMS from the next.
void sendSms(SlotWriter *writer, const Recording &r) {
    if (!writer || r.smsReceivers.isEmpty() || r.onTest) return;
    const QByteArray cmd =
        EventRecorder::smsCommand(r.account.celular, r.row.descricao, r.row.nomeParticao);
    for (int receiver : r.smsReceivers)
        writer->writeToSlot(receiver, cmd);
}

// Called once the transaction is over. Only an error that the line's own values cause turns
// the line away; whatever else the database answers keeps the line to be tried again.
RecordResult failure(const RecordingLink &link, const Stop &stop) {
    RecordResult r;
    const QString dbText = stop.dbError.text().simplified();
    if (!stop.commit && Database::isDataError(stop.dbError)) {
        r.status = RecordResult::Status::Rejected;
        r.reason = QStringLiteral("erro do banco de dados ao %1: %2").arg(stop.reason, dbText);
        return r;
    }
    // After a failed commit the main connection still holds that transaction and its locks,
    // out of the driver's reach: the next recording of the same account would wait on it.
    const Database::State state = stop.commit ? link.restart() : link.ensureAlive();
    r.status = RecordResult::Status::Retry;
    r.reason = (state == Database::State::Unreachable
                    ? QStringLiteral("banco de dados inacessível ao %1: %2")
                    : QStringLiteral("erro do banco de dados ao %1: %2"))
                   .arg(stop.reason, dbText);
    return r;
}

// A line turned away from the event queue: its internal event joins the transaction, then the
// line goes to the rejects file. False when the batch stops at the line: the database failed
// (stop says why) or the rejects file could not take it (stop left empty, the internal event
// taken back).
bool keepRejected(RecordingRepository &repo, RecordBatch &batch, const QString &line,
                  const QString &reason, const QDateTime &now, std::optional<Stop> *stop,
                  bool *internalStored) {
    *internalStored = false;
    if (!batch.reject) return true;
    if (!repo.setSavepoint()) {
        *stop = *dbFailed(QStringLiteral("iniciar a gravação da linha"), repo.lastError());
        return false;
    }
    if (repo.insertEvent(InternalEvent::rejectedLine(line, reason, now).row(now))) {
        *internalStored = true;
    } else {
        const QSqlError e = repo.lastError();
        repo.rollbackToSavepoint();
        // Values refused cannot come back in a loop: the internal event is no line of the
        // queue. The line still goes to the rejects file.
        if (!Database::isDataError(e)) {
            *stop = *dbFailed(QStringLiteral("gravar o evento interno"), e);
            return false;
        }
    }
    if (batch.reject(line, reason)) return true;
    if (*internalStored) repo.rollbackToSavepoint();
    *internalStored = false;
    return false;
}

// One line of a batch, inside its transaction and under a savepoint of its own. False when the
// batch stops at it (stop says why when the database does).
bool recordLine(RecordingRepository &repo, RecordBatch &batch, const QString &line, Recording &r,
                RecordResult *result, std::optional<Stop> *stop, bool *internalStored) {
    std::optional<QString> refused = unreadable(line, &r.ev);
    if (!refused) {
        if (!repo.setSavepoint()) {
            *stop = *dbFailed(QStringLiteral("iniciar a gravação da linha"), repo.lastError());
            return false;
        }
        if (Step s = recordSteps(repo, r)) {
            const bool dataOnly = !s->database || Database::isDataError(s->dbError);
            repo.rollbackToSavepoint();
            if (!dataOnly) {
                *stop = *s;
                return false;
            }
            refused = s->database ? QStringLiteral("erro do banco de dados ao %1: %2")
                                        .arg(s->reason, s->dbError.text().simplified())
                                  : s->reason;
        }
    }
    if (refused) {
        if (!keepRejected(repo, batch, line, *refused, r.now, stop, internalStored)) return false;
        result->status = RecordResult::Status::Rejected;
        result->reason = *refused;
    } else {
        result->status = RecordResult::Status::Stored;
        result->warning = r.warning;
    }
    return true;
}

// Another workstation holds reception: nothing is recorded here.
RecordResult notHolder() {
    RecordResult r;
    r.status = RecordResult::Status::Retry;
    r.reason = QStringLiteral("a recepção passou para outra estação");
    r.statusText = QStringLiteral("A recepção passou para outra estação: esta estação não grava "
                                  "mais eventos.");
    return r;
}

RecordResult unreachable() {
    RecordResult r;
    r.status = RecordResult::Status::Retry;
    r.reason = QStringLiteral("banco de dados inacessível");
    return r;
}

bool fileHeld(const Database &database, RecordResult *why) {
    QString text;
    if (database.fileStillOpen(&text)) return true;
    why->status = RecordResult::Status::Retry;
    why->reason = text;
    why->statusText = text;
    return false;
}

} // namespace

// What the recording of a batch leaves for the event loop's thread: the events stored, whose
// sound, SMS and lists come once the transaction is committed.
struct BatchEffects {
    QList<Recording> stored;
    bool internalStored = false;
};

namespace {

// The statements and the commit of a batch, on the link's connection, on whatever thread owns
// it: nothing here touches the console's objects but the batch's own reject callback.
//
// With a window, the transaction records: the lines chosen ahead whose accounts have nothing
// left in the head batch, then the head batch, then the lines chosen ahead of accounts whose
// lines of the head batch are all recorded by then. A fault or the deadline ends it anywhere
// in that order, and what came before is committed.
void runBatch(const RecordingLink &link, RecordBatch &batch,
              const std::function<QDateTime()> &clock, bool readSms, RunawayWatch *runaway,
              BatchEffects &effects) {
    batch.taken = 0;
    batch.results.clear();
    batch.jumped.clear();
    batch.jumpedResults.clear();
    if (batch.lines.isEmpty()) return;
    auto heldBack = [&batch](RecordResult r) { batch.results.append(r); };
    if (batch.leaseEpoch == RecordBatch::kNotHeld) return heldBack(notHolder());
    if (!link.db().isOpen() && link.ensureAlive() == Database::State::Unreachable)
        return heldBack(unreachable());
    // Recording into a file that is no longer the database's would lose every line.
    RecordResult gone;
    if (!fileHeld(link.database(), &gone)) return heldBack(gone);
    QSqlDatabase db = link.db();
    TransactionGuard transaction(db);
    if (!transaction.begun())
        return heldBack(
            failure(link, *dbFailed(QStringLiteral("iniciar a transação"), db.lastError())));
    RecordingRepository repo(db);
    StationModes modes;
    QSqlError modesError;
    if (!StationModes::read(db, &modes, &modesError))
        return heldBack(failure(
            link, *dbFailed(QStringLiteral("ler as contas em teste e o modo tempestade"), modesError)));
    QList<Recording> stored;
    QList<RecordResult> results;
    QList<qint64> jumped;
    QList<RecordResult> jumpedResults;
    std::optional<Stop> stop; // the database's fault that ended the batch
    bool internalStored = false;
    bool halted = false; // a line ended the batch
    auto record = [&](const QString &line, RecordResult *result) {
        Recording r;
        r.now = clock();
        r.readSmsReceivers = readSms;
        r.runaway = runaway;
        r.modes = &modes;
        bool internal = false;
        if (!recordLine(repo, batch, line, r, result, &stop, &internal)) return !(halted = true);
        internalStored |= internal;
        if (result->status == RecordResult::Status::Stored) stored.append(r);
        return true;
    };
    const bool lane = !batch.window.isEmpty() && !batch.queueId.isEmpty() &&
                      batch.window.size() == batch.windowNumbers.size();
    const Lane chosen = lane ? chooseLane(repo, batch) : Lane{};
    for (qsizetype j : chosen.before) {
        if (!jumped.isEmpty() && batch.deadline.hasExpired()) break;
        RecordResult result;
        if (!record(batch.window[j], &result)) break;
        jumped.append(batch.windowNumbers[j]);
        jumpedResults.append(result);
    }
    const QSet<qint64> ahead(batch.ahead.cbegin(), batch.ahead.cend());
    for (qsizetype i = 0; !halted && i < batch.lines.size(); ++i) {
        if (!results.isEmpty() && batch.deadline.hasExpired()) break;
        RecordResult result;
        if (ahead.contains(batch.firstNumber + i)) {
            result.status = RecordResult::Status::Stored; // committed in an earlier batch
        } else if (!record(batch.lines[i], &result)) {
            break;
        }
        results.append(result);
    }
    for (qsizetype k = 0; !halted && k < chosen.after.size(); ++k) {
        if (batch.deadline.hasExpired()) break;
        if (chosen.headLast.value(chosen.afterAccounts[k]) >= results.size()) continue;
        RecordResult result;
        if (!record(batch.window[chosen.after[k]], &result)) break;
        jumped.append(batch.windowNumbers[chosen.after[k]]);
        jumpedResults.append(result);
    }
    if (!results.isEmpty() || !jumped.isEmpty()) {
        if (!fileHeld(link.database(), &gone)) return heldBack(gone);
        auto failed = [&](const char *what) {
            heldBack(failure(link, *dbFailed(QString::fromUtf8(what), repo.lastError())));
        };
        if (!results.isEmpty() && !batch.queueId.isEmpty()) {
            const qint64 last = batch.firstNumber + results.size() - 1;
            if (!repo.writeQueueMark(batch.queueId, last)) return failed("marcar a fila");
            if (!batch.ahead.isEmpty() && !repo.dropAhead(batch.queueId, last))
                return failed("marcar a fila");
            if (batch.sharedQueue && !repo.takeShared(batch.queueId, last))
                return failed("retirar da fila compartilhada");
        }
        // In key order after the range above, as every statement on the shared queue goes.
        QList<qint64> keys = jumped;
        std::sort(keys.begin(), keys.end());
        for (qint64 n : std::as_const(keys)) {
            if (!repo.writeAhead(batch.queueId, n)) return failed("marcar a fila");
            if (batch.sharedQueue && !repo.takeSharedLine(batch.queueId, n))
                return failed("retirar da fila compartilhada");
        }
        // Last, so that the lease's row is held for the shortest time: a standby that takes
        // reception over waits for this commit, or this update for its own.
        if (batch.leaseEpoch >= 0) {
            bool held = false;
            if (!repo.confirmLease(batch.leaseEpoch, &held)) return failed("confirmar a recepção");
            if (!held) return heldBack(notHolder());
        }
        if (!transaction.commit())
            return heldBack(failure(link, Stop{true, QStringLiteral("confirmar a gravação"),
                                               db.lastError(), true}));
    }
    batch.taken = int(results.size());
    batch.results = results;
    batch.jumped = jumped;
    batch.jumpedResults = jumpedResults;
    if (stop) {
        transaction.commit(); // nothing of the stopped line is left in it
        batch.results.append(failure(link, *stop));
    }
    effects.internalStored = internalStored;
    effects.stored = std::move(stored);
}

} // namespace

EventRecorder::EventRecorder(Database &database, const Clock &clock, SoundOutput *sound,
                             SlotWriter *slotWriter, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_clock(clock)
    , m_sound(sound)
    , m_slots(slotWriter)
    , m_runaway(std::make_unique<RunawayWatch>()) {}

EventRecorder::~EventRecorder() = default;

QByteArray EventRecorder::smsCommand(const QString &celular, const QString &descricao,
                                     const QString &nomeParticao) {
    QByteArray cmd = toWindows1252(QStringLiteral("SMS:") + celular + QLatin1Char(',') + descricao +
                                   QLatin1Char(' ') + nomeParticao);
    if (cmd.size() < kSmsLength) cmd.append(QByteArray(kSmsLength - cmd.size(), '\0'));
    return cmd;
}

QString EventRecorder::weekdayCode(const QDate &d) {
    static const char *const days[] = {"DOM", "SEG", "TER", "QUA", "QUI", "SEX", "SAB"};
    return QString::fromLatin1(days[d.dayOfWeek() % 7]); // Qt: Monday 1 … Sunday 7
}

RecordResult EventRecorder::Grava_Evento_Banco_Dados(const QString &line) {
    if (line.size() <= 10) return RecordResult{};
    RecordBatch batch;
    batch.lines = QStringList{line};
    recordBatch(batch);
    return batch.results.value(0);
}

void EventRecorder::setLease(qint64 epoch, bool sharedQueue) {
    m_leaseEpoch = epoch;
    m_sharedQueue = sharedQueue;
}

void EventRecorder::recordBatch(RecordBatch &batch) {
    if (batch.leaseEpoch == RecordBatch::kRecorderDefault) batch.leaseEpoch = m_leaseEpoch;
    batch.sharedQueue = batch.sharedQueue || m_sharedQueue;
    BatchEffects effects;
    runBatch(RecordingLink(m_database), batch, [this] { return m_clock.now(); }, m_slots != nullptr,
             m_runaway.get(), effects);
    applyEffects(effects);
}

void EventRecorder::startWorker() {
    if (!m_worker) m_worker = std::make_unique<RecordingWorker>(m_database);
}

void EventRecorder::stopWorker() {
    if (!m_worker) return;
    m_worker->finish();
    m_worker.reset();
    m_internalInFlight = false;
}

int EventRecorder::backgroundPending() const {
    return m_worker ? m_worker->pending() : 0;
}

void EventRecorder::finishBackground() {
    if (m_worker) m_worker->finish();
}

void EventRecorder::recordBatchInBackground(RecordBatch batch,
                                            std::function<void(RecordBatch &)> done) {
    if (!m_worker) {
        recordBatch(batch);
        done(batch);
        return;
    }
    struct State {
        RecordBatch batch;
        BatchEffects effects;
    };
    auto state = std::make_shared<State>();
    state->batch = std::move(batch);
    if (state->batch.leaseEpoch == RecordBatch::kRecorderDefault)
        state->batch.leaseEpoch = m_leaseEpoch;
    state->batch.sharedQueue = state->batch.sharedQueue || m_sharedQueue;
    // The recording thread reads no clock of the console's: the batch's moment is taken here.
    const QDateTime now = m_clock.now();
    const bool sms = m_slots != nullptr;
    const QPointer<EventRecorder> self(this);
    RunawayWatch *runaway = m_runaway.get();
    m_worker->post([state, now, sms, runaway, self, done](RecordingLink &link) -> std::function<void()> {
        runBatch(link, state->batch, [now] { return now; }, sms, runaway, state->effects);
        return [state, self, done] {
            if (!self) return;
            self->applyEffects(state->effects);
            done(state->batch);
        };
    });
}

void EventRecorder::runInBackground(std::function<std::function<void()>(RecordingLink &)> job) {
    if (!m_worker) {
        RecordingLink link(m_database);
        if (auto here = job(link)) here();
        return;
    }
    m_worker->post(std::move(job));
}


void EventRecorder::recordSharedInBackground(const QString &ownQueue, qint64 ownFirst,
                                             RejectLog *rejects,
                                             std::function<void(int, bool)> done) {
    const QDateTime now = m_clock.now();
    const bool sms = m_slots != nullptr;
    const qint64 epoch = m_leaseEpoch;
    const QPointer<EventRecorder> self(this);
    RunawayWatch *runaway = m_runaway.get();
    auto effects = std::make_shared<BatchEffects>();
    runInBackground([=](RecordingLink &link) -> std::function<void()> {
        int taken = 0;
        bool more = false;
        if (link.db().isOpen() || link.ensureAlive() != Database::State::Unreachable) {
            const SharedRows rows = readSharedRows(link.db(), ownQueue, ownFirst);
            more = rows.more || rows.failed;
            if (!rows.lines.isEmpty()) {
                RecordBatch batch;
                batch.lines = rows.lines;
                batch.queueId = rows.queueId;
                batch.firstNumber = rows.first;
                batch.leaseEpoch = epoch;
                batch.sharedQueue = true;
                const QString when = now.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
                batch.reject = [rejects, when](const QString &line, const QString &reason) {
                    return rejects && rejects->append(line, when, reason);
                };
                runBatch(link, batch, [now] { return now; }, sms, runaway, *effects);
                taken = batch.taken;
                more = true; // known to be empty only when a reading finds nothing
            }
        } else {
            more = true;
        }
        return [self, effects, done, taken, more] {
            if (!self) return;
            self->applyEffects(*effects);
            done(taken, more);
        };
    });
}

// Stored: only now does the operator hear, the receivers send and the lists refresh.
void EventRecorder::applyEffects(const BatchEffects &effects) {
    if (effects.internalStored) announce(kPending);
    if (effects.stored.isEmpty()) return;
    unsigned which = kSilent | kReceived;
    for (const Recording &r : effects.stored) {
        if (!r.suppressed) playSound(m_sound, r.code);
        if (r.flagged) which |= kPending | kRunaway;
        sendSms(m_slots, r);
        if (r.disarmedChanged) which |= kDisarmed;
        if (r.awaitingArmChanged) which |= kAwaitingArm;
        if (r.row.tratado == 0) which |= kPending;
    }
    announce(which);
}

void EventRecorder::announce(unsigned which) {
    if (m_held) {
        m_gathered |= which;
        return;
    }
    if (which & kSilent) emit silentChanged();
    if (which & kDisarmed) emit disarmedChanged();
    if (which & kAwaitingArm) emit awaitingArmChanged();
    if (which & kPending) emit pendingRecorded();
    if (which & kReceived) emit receivedChanged();
    if (which & kRunaway) emit runawayChanged();
}

void EventRecorder::announceAll() {
    announce(kSilent | kDisarmed | kAwaitingArm | kPending | kReceived);
}

void EventRecorder::releaseAnnouncements() {
    m_held = false;
    const unsigned which = m_gathered;
    m_gathered = 0;
    announce(which);
}

bool EventRecorder::clearRunaway(const QString &conta, QString *error) {
    if (!RunawayRepository::remove(m_database.primary(), conta, error)) return false;
    m_runaway->clear(conta);
    emit runawayChanged();
    return true;
}

void EventRecorder::raiseInternal(const InternalEvent &event) {
    m_internal.append(event);
}

namespace {

// Stores the internal events in one transaction on the link's connection.
RecordResult storeInternal(const RecordingLink &link, const QList<InternalEvent> &events,
                           const QDateTime &now) {
    RecordResult r;
    if (!link.db().isOpen() && link.ensureAlive() == Database::State::Unreachable)
        return unreachable();
    if (!fileHeld(link.database(), &r)) return r;
    QSqlDatabase db = link.db();
    TransactionGuard transaction(db);
    if (!transaction.begun())
        return failure(link, *dbFailed(QStringLiteral("iniciar a transação"), db.lastError()));
    RecordingRepository repo(db);
    for (const InternalEvent &e : events) {
        if (!repo.setSavepoint())
            return failure(link, *dbFailed(QStringLiteral("iniciar a gravação do evento interno"),
                                           repo.lastError()));
        if (repo.insertEvent(e.row(now))) continue;
        const QSqlError error = repo.lastError();
        if (!Database::isDataError(error))
            return failure(link, *dbFailed(QStringLiteral("gravar o evento interno"), error));
        repo.rollbackToSavepoint(); // refused for its own values: it would be refused again
    }
    if (!fileHeld(link.database(), &r)) return r;
    if (!transaction.commit())
        return failure(link,
                       Stop{true, QStringLiteral("confirmar a gravação"), db.lastError(), true});
    r.status = RecordResult::Status::Stored;
    return r;
}

} // namespace

void EventRecorder::internalStored(qsizetype n) {
    // Those raised meanwhile stay for the next time.
    m_internal.remove(0, std::min(n, m_internal.size()));
    announce(kPending);
}

RecordResult EventRecorder::recordInternal() {
    if (m_internal.isEmpty()) return RecordResult{};
    const RecordResult r = storeInternal(RecordingLink(m_database), m_internal, m_clock.now());
    if (r.status == RecordResult::Status::Stored) internalStored(m_internal.size());
    return r;
}

void EventRecorder::recordInternalInBackground() {
    if (m_internal.isEmpty() || m_internalInFlight) return;
    if (!m_worker) {
        recordInternal();
        return;
    }
    m_internalInFlight = true;
    const QList<InternalEvent> events = m_internal;
    const QDateTime now = m_clock.now();
    const QPointer<EventRecorder> self(this);
    m_worker->post([events, now, self](RecordingLink &link) -> std::function<void()> {
        const RecordResult r = storeInternal(link, events, now);
        return [self, r, n = events.size()] {
            if (!self) return;
            self->m_internalInFlight = false;
            if (r.status == RecordResult::Status::Stored) self->internalStored(n);
        };
    });
}

bool EventRecorder::readQueueMark(const QString &queueId, qint64 *last, RecordResult *why,
                                  QList<qint64> *ahead) {
    if (!m_database.primary().isOpen() && m_database.ensureAlive() == Database::State::Unreachable) {
        why->status = RecordResult::Status::Retry;
        why->reason = QStringLiteral("banco de dados inacessível");
        return false;
    }
    QSqlDatabase db = m_database.primary();
    TransactionGuard transaction(db);
    RecordingRepository repo(db);
    if (!transaction.begun() || !repo.readQueueMark(queueId, last) ||
        (ahead && !repo.readAhead(queueId, *last, ahead))) {
        const QSqlError e = transaction.begun() ? repo.lastError() : db.lastError();
        *why = failure(RecordingLink(m_database), *dbFailed(QStringLiteral("ler a marca da fila"), e));
        return false;
    }
    transaction.commit();
    return true;
}

} // namespace tulmo
