#pragma once

#include <QHash>
#include <QSqlDatabase>

#include <utility>

namespace tulmo {

// One transaction on a connection that is rolled back unless it was committed: whatever way
// the work leaves the scope, nothing of it stays half done, and no exit needs a rollback of
// its own.
//
// A guard opened on a connection that already has one open on this thread joins it: the work
// of both is committed, or rolled back, together by the outer one. An inner guard's commit
// only says that its part is done; an inner guard left without committing spoils the outer
// one, whose commit then fails. So a change and the audit row that tells of it are kept
// together, however the change's own statements are grouped.
class TransactionGuard {
public:
    explicit TransactionGuard(QSqlDatabase db)
        : m_db(std::move(db))
        , m_name(m_db.connectionName()) {
        State &s = open()[m_name];
        m_joined = s.depth > 0;
        m_open = m_joined || m_db.transaction();
        if (m_open) {
            if (!m_joined) s.spoiled = false;
            ++s.depth;
        } else if (s.depth == 0) {
            open().remove(m_name);
        }
    }
    ~TransactionGuard() {
        if (!m_open) return;
        State &s = open()[m_name];
        if (m_joined) {
            s.spoiled = true;
            --s.depth;
            return;
        }
        m_db.rollback();
        open().remove(m_name);
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
        State &s = open()[m_name];
        if (m_joined) {
            --s.depth;
            m_open = false;
            m_committed = true;
            return true;
        }
        if (s.spoiled || s.depth != 1) return false;
        if (!m_db.commit()) return false;
        open().remove(m_name);
        m_open = false;
        m_committed = true;
        return true;
    }

private:
    struct State {
        int depth = 0;
        bool spoiled = false;
    };
    // The connections of this thread with a guard open, by name.
    static QHash<QString, State> &open() {
        thread_local QHash<QString, State> states;
        return states;
    }

    QSqlDatabase m_db;
    QString m_name;
    bool m_open = false;
    bool m_joined = false;
    bool m_committed = false;
};

} // namespace tulmo
