#pragma once

#include <QSqlDatabase>

#include <utility>

namespace tulmo {

// One transaction on a connection that is rolled back unless it was committed: whatever way
// the work leaves the scope, nothing of it stays half done, and no exit needs a rollback of
// its own.
class TransactionGuard {
public:
    explicit TransactionGuard(QSqlDatabase db)
        : m_db(std::move(db))
        , m_open(m_db.transaction()) {}
    ~TransactionGuard() {
        if (m_open) m_db.rollback();
    }
    TransactionGuard(const TransactionGuard &) = delete;
    TransactionGuard &operator=(const TransactionGuard &) = delete;

    // Whether the transaction began; the connection's lastError() says why not.
    bool begun() const { return m_open || m_committed; }
    // True only when the commit succeeded. A failed commit leaves the transaction to the
    // rollback of the destructor. (Qt's QIBASE driver drops its handle of a transaction whose
    // commit failed, so there the rollback cannot reach it: it stays open, with its locks,
    // even past a close of the connection; Database::restartPrimary ends it.)
    bool commit() {
        if (!m_open) return false;
        if (!m_db.commit()) return false;
        m_open = false;
        m_committed = true;
        return true;
    }

private:
    QSqlDatabase m_db;
    bool m_open;
    bool m_committed = false;
};

} // namespace tulmo
