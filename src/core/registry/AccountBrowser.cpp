#include "AccountBrowser.h"

#include "core/common/Prompt.h"
#include "core/store/Database.h"

#include <QSqlDatabase>
#include <QThread>

#include <memory>

namespace tulmo {

namespace {
QList<QueryListModel::Column> accountColumns() {
    return {{"CONTA", {}},     {"NOME", {}},    {"TELEFONE1", {}},
            {"TELEFONE2", {}}, {"CELULAR", {}}, {"EMAIL", {}}};
}
QList<QueryListModel::Column> eventColumns() {
    return {{"CODIGO_ALARME", QStringLiteral("CÓDIGO")},
            {"ARGUMENTO", QStringLiteral("ARG.")},
            {"NUMERO_PARTICAO", QStringLiteral("PART.")},
            {"NOME_PARTICAO", QStringLiteral("NOME PART.")},
            {"DESCRICAO", QStringLiteral("DESCRIÇÃO")},
            {"TIPO", {}},
            {"DATA", QStringLiteral("DATA EVENTO"), true},
            {"DATA_INTERVENCAO", QStringLiteral("DATA INTERV."), true},
            {"DETALHES", {}}};
}
} // namespace

AccountBrowser::AccountBrowser(Database &database, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_accounts(accountColumns(), this)
    , m_events(eventColumns(), this) {
    m_accounts.setFetcher([this] { fetchMoreAccounts(); });
}

AccountBrowser::~AccountBrowser() {
    if (m_worker) {
        m_worker->wait();
        delete m_worker.data();
    }
}

void AccountBrowser::open(const AccountFilter &filter) {
    m_filter = filter;
    QSqlDatabase db = m_database.primary();
    QString errorText;
    std::optional<ReadRows> page =
        AccountBrowserRepository::accounts(db, m_filter, {}, kPage, &errorText);
    const bool more = page && page->rows.size() >= kPage;
    const int n = more ? AccountBrowserRepository::count(db, m_filter, &errorText)
                       : int(page ? page->rows.size() : 0);
    m_accounts.reset(page ? std::move(*page) : ReadRows{}, more);
    setCount(n);
    if (!page || n < 0) readFailed(QStringLiteral("Houve um erro ao pesquisar os clientes."),
                                   errorText);
    showEvents(m_accounts.value(0, QStringLiteral("CONTA")).toString());
}

void AccountBrowser::fetchMoreAccounts() {
    const int n = m_accounts.rowCount();
    if (n == 0) return;
    const QString last = m_accounts.value(n - 1, QStringLiteral("CONTA")).toString();
    QString errorText;
    std::optional<ReadRows> page = AccountBrowserRepository::accounts(
        m_database.primary(), m_filter, last, kPage, &errorText);
    if (!page) {
        m_accounts.append({}, false);
        readFailed(QStringLiteral("Houve um erro ao ler a lista de clientes."), errorText);
        return;
    }
    m_accounts.append(*page, page->rows.size() >= kPage);
}

void AccountBrowser::readFailed(const QString &what, const QString &errorText) {
    if (!m_prompt) return;
    QString text = what;
    const QString reason = errorText.trimmed();
    if (!reason.isEmpty()) text += QStringLiteral("\n\nResposta do banco de dados: ") + reason;
    m_prompt->message(text, QStringLiteral("ERRO"), Prompt::Icon::Error);
}

void AccountBrowser::searchByNumber(const QString &text) {
    open(text.isEmpty() ? AccountFilter() : AccountFilter{AccountFilter::Kind::ByNumber, text});
}

void AccountBrowser::searchByName(const QString &text) {
    open(text.isEmpty() ? AccountFilter() : AccountFilter{AccountFilter::Kind::ByName, text});
}

void AccountBrowser::showEvents(const QString &conta) {
    if (conta.isEmpty()) {
        m_events.clear();
        return;
    }
    QString errorText;
    std::optional<ReadRows> rows = AccountBrowserRepository::handledEvents(
        m_database.primary(), conta, kEventLimit, &errorText);
    m_events.reset(rows ? std::move(*rows) : ReadRows{}, false);
    if (!rows)
        readFailed(QStringLiteral("Houve um erro ao ler os eventos do cliente %1.").arg(conta),
                   errorText);
}

void AccountBrowser::close() {
    m_accounts.clear();
    m_events.clear();
}

QString AccountBrowser::countText() const {
    return QStringLiteral("%1").arg(m_count, 6, 10, QLatin1Char('0'));
}

void AccountBrowser::setCount(int n) {
    m_count = qMax(n, 0);
    emit countChanged(countText());
}

AccountBrowser::Deletion AccountBrowser::deleteAccount(const QString &conta, Prompt *prompt) {
    if (conta.isEmpty() || !prompt || m_worker) return Deletion::Declined;
    // The question names the account it deletes, after the words it has always had.
    QString nome;
    for (int r = 0; r < m_accounts.rowCount() && nome.isNull(); ++r)
        if (m_accounts.value(r, QStringLiteral("CONTA")).toString() == conta)
            nome = m_accounts.value(r, QStringLiteral("NOME")).toString().trimmed();
    const QString named = nome.isEmpty() ? conta : conta + QStringLiteral(" - ") + nome;
    if (!prompt->question(QStringLiteral("Deseja realmente excluir o cliente ") + named +
                              QLatin1Char('?'),
                          QStringLiteral("Excluir cliente"), Prompt::Icon::Question, false))
        return Deletion::Declined;
    const std::optional<bool> withEvents =
        AccountBrowserRepository::hasEvents(m_database.primary(), conta);
    if (!withEvents) {
        finishDeletion(conta, false, prompt);
        return Deletion::Failed;
    }
    if (*withEvents &&
        !prompt->question(QStringLiteral("Existem eventos registrados para essa conta.\r\r"
                                         "Deseja realmente excluir a conta?"),
                          QStringLiteral("EXCLUSÃO DE CONTA"), Prompt::Icon::Question, false))
        return Deletion::Declined;

    // A connection is used by the thread that opened it, so the worker makes its own.
    auto deleted = std::make_shared<bool>(false);
    const QString source = m_database.primary().connectionName();
    const QString own = QStringLiteral("tulmo-delete-%1").arg(quintptr(this));
    m_worker = QThread::create([source, own, conta, deleted] {
        {
            QSqlDatabase db = QSqlDatabase::cloneDatabase(source, own);
            *deleted = db.open() && AccountBrowserRepository::remove(db, conta);
            db.close();
        }
        QSqlDatabase::removeDatabase(own);
    });
    connect(m_worker, &QThread::finished, this, [this, conta, deleted, prompt] {
        m_worker->deleteLater();
        m_worker = nullptr;
        finishDeletion(conta, *deleted, prompt);
    });
    m_worker->start();
    return Deletion::Started;
}

void AccountBrowser::finishDeletion(const QString &conta, bool deleted, Prompt *prompt) {
    if (!deleted) {
        prompt->message(QStringLiteral("Houve um erro ao excluir a conta de cliente."),
                        QStringLiteral("ERRO"), Prompt::Icon::Error);
        emit deletionFinished(conta, false);
        return;
    }
    open();
    // The inactivity scan reads CLIENTES through its index on every tick, so a deleted account
    // is no longer supervised from the next one; the lists of the main window read again.
    emit accountDeleted(conta);
    emit deletionFinished(conta, true);
}

} // namespace tulmo
