#include "EventImport.h"

#include "core/common/Clock.h"
#include "core/import/FileListing.h"
#include "core/store/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>

namespace tulmo {

namespace {
constexpr int kProblemsShown = 10;
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

struct EventImport::Run {
    QString fileName;
    bool fromFile = false;
    QDateTime now;
    int generation = 0;
    QString connection; // the main connection, cloned for the worker
};

EventImport::EventImport(Database &database, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_clock(clock)
    , m_worker(new QObject) {
    m_thread.setObjectName(QStringLiteral("Importar Eventos"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

EventImport::~EventImport() {
    cancel();
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void EventImport::ProcessaArquivo(const QString &fileName, TimeSource source) {
    cancel();
    Run run;
    run.fileName = fileName;
    run.fromFile = source == TimeSource::FromFile;
    run.now = m_clock.now();
    run.generation = ++m_generation;
    run.connection = m_database.primary().connectionName();
    m_wanted = run.generation;
    m_running = true;
    QMetaObject::invokeMethod(
        m_worker, [this, run] { runInWorker(run); }, Qt::QueuedConnection);
}

void EventImport::cancel() {
    if (!m_running) return;
    m_running = false;
    ++m_generation;
    m_wanted = m_generation;
}

void EventImport::finishNow() {
    while (m_running) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

// On the worker thread: a connection of its own for the run, closed at its end. What it finds
// goes back to the caller's thread, where a run abandoned meanwhile is no longer listened to.
void EventImport::runInWorker(Run run) {
    auto back = [this, generation = run.generation](auto f) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, f] {
                if (generation == m_generation) f();
            },
            Qt::QueuedConnection);
    };
    if (m_wanted != run.generation) return;
    const QString name = QStringLiteral("tulmo-import-%1").arg(quintptr(this));
    ImportSummary summary;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(run.connection, name);
        if (!db.open()) {
            summary.fileName = run.fileName;
            summary.error = Database::openFailureMessage(
                QDir::toNativeSeparators(db.databaseName()), db.lastError().text().simplified());
        } else {
            FileListing listing(run.now, run.fromFile);
            FileListing::Callbacks callbacks;
            callbacks.progress = [&](int done, int total) {
                back([this, done, total] { emit progress(done, total); });
            };
            callbacks.rowsListed = [&](const QList<ImportRow> &rows) {
                back([this, rows] { emit rowsListed(rows); });
            };
            callbacks.goOn = [this, &run] { return m_wanted == run.generation; };
            summary = listing.run(run.fileName, db, callbacks);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    back([this, summary] {
        m_running = false;
        emit finished(summary);
    });
}

} // namespace tulmo
