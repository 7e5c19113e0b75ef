#pragma once

#include "core/registry/AccountBrowserRepository.h"
#include "core/registry/QueryListModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

namespace tulmo {

class Database;
class Prompt;

// What the account browser does besides showing it: the account list with its searches and
// count, the handled events of the selected account, and the deletion of an account with
// everything that hangs on it.
//
// The account list is read a page at a time as the grid scrolls, and the count comes from a
// count of its own, so opening the browser on a large station reads one screenful, not every
// account. The event list shows the newest handled events of the account.
class AccountBrowser : public QObject {
    Q_OBJECT
public:
    static constexpr int kPage = 200;       // accounts per read
    static constexpr int kEventLimit = 500; // newest handled events shown

    explicit AccountBrowser(Database &database, QObject *parent = nullptr);
    // Waits for a deletion still running.
    ~AccountBrowser() override;

    // Where a list that cannot be read is reported; without one it only shows empty.
    void setPrompt(Prompt *prompt) { m_prompt = prompt; }

    QueryListModel &accounts() { return m_accounts; }
    QueryListModel &events() { return m_events; }
    const AccountFilter &filter() const { return m_filter; }

    // Reads the account list again with the filter, and the events of its first account. A
    // search of any length works (a text longer than its column finds nothing); one that
    // cannot be read says so through the prompt.
    void open(const AccountFilter &filter = AccountFilter());
    // Edit1 and Edit2: an empty text lists every account.
    void searchByNumber(const QString &text);
    void searchByName(const QString &text);
    // The handled events of an account (none for an empty number).
    void showEvents(const QString &conta);
    // Empties both lists.
    void close();
    // Reads the next page of accounts.
    void fetchMoreAccounts();

    // Accounts the list holds, read or not yet read; "000000" style for the caption.
    int count() const { return m_count; }
    QString countText() const;

    enum class Deletion { Started, Declined, Failed };
    // Asks, then deletes the account with its dependent rows in one transaction. The
    // transaction runs on a connection of its own off the console's thread, so an account of
    // thousands of events does not hold reception back; deletionFinished tells the end, when
    // the whole list has been read again. A failure is reported to the operator and leaves
    // every row in place. One deletion at a time: another is declined while one runs.
    Deletion deleteAccount(const QString &conta, Prompt *prompt);
    bool deleting() const { return m_worker != nullptr; }

signals:
    void deletionFinished(const QString &conta, bool deleted);
    void countChanged(const QString &text);
    // The account is gone: lists of accounts elsewhere read again.
    void accountDeleted(const QString &conta);

private:
    void setCount(int n);
    // "Houve um erro ao …" with the database's answer, once per failed reading.
    void readFailed(const QString &what, const QString &errorText);
    void finishDeletion(const QString &conta, bool deleted, Prompt *prompt);

    Database &m_database;
    QueryListModel m_accounts;
    QueryListModel m_events;
    AccountFilter m_filter;
    int m_count = 0;
    QPointer<QThread> m_worker;
    Prompt *m_prompt = nullptr;
};

} // namespace tulmo
