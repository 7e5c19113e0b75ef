#include "Database.h"

#include "core/operators/AuditTrail.h"

#include "Schema.h"

#include <ibase.h>

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
#include <sys/stat.h>

namespace tulmo {

namespace {
QString uniqueName(const char *role) {
    static QAtomicInt counter;
    return QStringLiteral("tulmo_%1_%2")
        .arg(QLatin1String(role))
        .arg(counter.fetchAndAddRelaxed(1));
}
} // namespace

DatabaseLocation DatabaseLocation::embedded(QString file) {
    return {QString(), kDefaultPort, std::move(file), QString::fromLatin1(Database::kUser),
            QString::fromLatin1(Database::kPassword)};
}

QString DatabaseLocation::connectionString() const {
    if (!onServer()) return file;
    return server + QLatin1Char('/') + QString::number(port) + QLatin1Char(':') + file;
}

QString DatabaseLocation::shown() const {
    if (!onServer()) return QDir::toNativeSeparators(file);
    return QStringLiteral("%1 no servidor %2:%3").arg(file, server).arg(port);
}

Database::Database(QString databaseFile)
    : Database(DatabaseLocation::embedded(std::move(databaseFile))) {}

Database::Database(DatabaseLocation location)
    : m_location(std::move(location))
    , m_mainName(uniqueName("principal"))
    , m_secondName(uniqueName("secundaria")) {}

QSqlDatabase Database::addConnection(const QString &name, const DatabaseLocation &where) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), name);
    db.setHostName(where.server);
    if (where.onServer()) db.setPort(where.port);
    db.setDatabaseName(where.file);
    db.setUserName(where.user);
    db.setPassword(where.password);
    db.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
    return db;
}

Database::~Database() {
    close();
    QSqlDatabase::removeDatabase(m_mainName);
    QSqlDatabase::removeDatabase(m_secondName);
}

QString Database::openFailureMessage(const QString &shown, const QString &reason) {
    return QStringLiteral("Não foi possível abrir o banco de dados \"%1\".\n\nMotivo: %2\n\n"
                          "O Tulmo será encerrado.")
        .arg(shown, reason.trimmed());
}

bool Database::openConnection(const QString &name, QString *reason) {
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : addConnection(name, m_location);
    if (!db.isValid()) {
        *reason = QStringLiteral("o driver QIBASE do Qt não está instalado");
        return false;
    }
    if (db.isOpen()) return true;
    if (!db.open()) {
        *reason = db.lastError().databaseText().trimmed();
        if (reason->isEmpty()) *reason = db.lastError().text();
        return false;
    }
    tellStation(db);
    return true;
}

// The workstation, for what the engine writes in the audit by itself (a treatment's row).
void Database::tellStation(QSqlDatabase db) {
    const QString station = audit::station();
    if (station.isEmpty()) return;
    QSqlQuery q(db);
    if (q.prepare(QStringLiteral("select rdb$set_context('USER_SESSION', 'TULMO_ESTACAO', ?) "
                                 "from rdb$database"))) {
        q.bindValue(0, station.left(60));
        // Evaluated as the row is fetched.
        if (q.exec()) q.next();
    }
}

bool Database::open(QString *error) {
    QString reason;
    m_created = false;
    const QString shown = m_location.shown();
    if (!m_location.onServer() && !QFileInfo::exists(m_location.file)) {
        QDir().mkpath(QFileInfo(m_location.file).absolutePath());
        if (!schema::createDatabaseFile(m_location, &reason)) {
            if (error) *error = openFailureMessage(shown, reason);
            return false;
        }
        m_created = true;
    }
    if (!openConnection(m_mainName, &reason) && !(m_location.onServer() && createOnServer())) {
        if (error) *error = openFailureMessage(shown, reason);
        return false;
    }
    rememberFile();
    if (m_created) schema::createBaseTables(primary());
    if (!openConnection(m_secondName, &reason)) {
        if (error) *error = openFailureMessage(shown, reason);
        close();
        return false;
    }
    return true;
}

// A server's first start: the database is created there, as on one workstation. The engine
// never creates over an existing file, so a database that exists but could not be opened stays
// as it is, and the reason it could not be opened is what the operator is told.
bool Database::createOnServer() {
    QString reason;
    if (schema::createDatabaseFile(m_location, &reason) && openConnection(m_mainName, &reason)) {
        m_created = true;
        return true;
    }
    // Another workstation starting at the same moment may have created it meanwhile.
    return openConnection(m_mainName, &reason);
}

void Database::rememberFile() {
    m_device = m_inode = 0;
    struct stat st {};
    if (!m_location.onServer() && ::stat(QFile::encodeName(m_location.file).constData(), &st) == 0) {
        m_device = quint64(st.st_dev);
        m_inode = quint64(st.st_ino);
    }
}

QString Database::fileGoneMessage() const {
    const QFileInfo f(m_location.file);
    const QString shown =
        QDir::toNativeSeparators(f.dir().dirName() + QLatin1Char('/') + f.fileName());
    return QStringLiteral("O banco de dados %1 foi apagado ou substituído enquanto o Tulmo "
                          "estava aberto: os eventos ficam na fila até o Tulmo ser reiniciado")
        .arg(shown);
}

bool Database::fileStillOpen(QString *error) const {
#ifdef Q_OS_WIN
    // An open database file cannot be deleted or replaced there.
    Q_UNUSED(error);
    return true;
#else
    if (m_location.onServer() || (m_device == 0 && m_inode == 0)) return true;
    struct stat st {};
    if (::stat(QFile::encodeName(m_location.file).constData(), &st) != 0) {
        // Only a file that is not there is gone; any other failure cannot tell.
        if (errno != ENOENT && errno != ENOTDIR) return true;
    } else if (quint64(st.st_dev) == m_device && quint64(st.st_ino) == m_inode) {
        return true;
    }
    if (error) *error = fileGoneMessage();
    return false;
#endif
}

void Database::close() {
    if (QSqlDatabase::contains(m_mainName)) QSqlDatabase::database(m_mainName, false).close();
    if (QSqlDatabase::contains(m_secondName)) QSqlDatabase::database(m_secondName, false).close();
}

void Database::shutdownEngine() {
    fb_shutdown(10000, fb_shutrsn_app_stopped);
}

namespace {
void (*g_onSignal)() = nullptr;
// Called from the engine's own thread when SIGINT or SIGTERM reached its handler.
int confirmShutdown(const int reason, const int, void *) {
    if (reason != fb_shutrsn_signal) return 0;
    if (g_onSignal) g_onSignal();
    return 1; // not by the signal: the process ends its own way, then stops the engine
}
} // namespace

void Database::leaveSignalsToProcess(void (*onSignal)()) {
    g_onSignal = onSignal;
    static bool registered = false;
    if (registered) return;
    ISC_STATUS_ARRAY status;
    registered = fb_shutdown_callback(status, confirmShutdown, fb_shut_confirmation, nullptr) == 0;
}

bool Database::isOpen() const {
    return primary().isOpen();
}

QSqlDatabase Database::primary() const {
    return QSqlDatabase::database(m_mainName, false);
}

QSqlDatabase Database::secondary() const {
    return QSqlDatabase::database(m_secondName, false);
}

Database::State Database::ensureAlive(const QString &name) {
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (db.isOpen()) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select 1 from RDB$DATABASE")) && q.next()) return State::Alive;
        q.finish();
        db.close();
    }
    QString reason;
    if (!openConnection(name, &reason)) return State::Unreachable;
    ++m_reopenings;
    return State::Reconnected;
}

Database::State Database::restart(const QString &name) {
    QSqlDatabase db = QSqlDatabase::database(name, false);
    QVariant attachment;
    if (db.isOpen()) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select CURRENT_CONNECTION from RDB$DATABASE")) && q.next())
            attachment = q.value(0);
    }
    if (attachment.isValid()) {
        // An attachment cannot end itself this way: another one marks it shut down, and its
        // transactions go with it when it is closed below.
        const QString helper = uniqueName("encerramento");
        {
            QString reason;
            if (openConnection(helper, &reason)) {
                QSqlQuery kill(QSqlDatabase::database(helper, false));
                kill.prepare(QStringLiteral(
                    "delete from MON$ATTACHMENTS where MON$ATTACHMENT_ID = :id"));
                kill.bindValue(QStringLiteral(":id"), attachment);
                kill.exec();
            }
            QSqlDatabase::database(helper, false).close();
        }
        QSqlDatabase::removeDatabase(helper);
    }
    db.close();
    QString reason;
    if (!openConnection(name, &reason)) return State::Unreachable;
    ++m_reopenings;
    return State::Reconnected;
}

bool Database::isDataError(const QSqlError &error) {
    // The driver gives the SQLCODE. Only these come from the values themselves:
    //   -413 conversion error from string
    //   -802 arithmetic exception, numeric overflow or string truncation
    //   -625 validation error for a column (a null where none may be)
    //   -297 CHECK constraint violated
    // Anything else (lock and update conflicts, deadlock -913, lost connection and I/O -902,
    // -901, a user exception -836, a unique key -803, an unknown code) is tried again: a line
    // tried again stays in sight, a rejected one leaves the console.
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    if (!ok) return false;
    return code == -413 || code == -802 || code == -625 || code == -297;
}

} // namespace tulmo
