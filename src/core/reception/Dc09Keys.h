#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace tulmo {

// The AES keys of the accounts that report encrypted over DC-09, one per account, in the
// table DC09_KEYS (ACCOUNT, AES_KEY as hexadecimal digits). Held in memory for reception; a
// key is never written to the port monitor or anywhere else but this table.
class Dc09Keys {
public:
    struct Entry {
        QString account;
        QString keyHex;
    };

    explicit Dc09Keys(QSqlDatabase db)
        : m_db(std::move(db)) {}

    // Reads the table again; false with the reason when it cannot be read (the keys held
    // stay as they were).
    bool load(QString *error = nullptr);
    // Replaces every key by entries in one transaction, then holds them. An entry with an
    // empty account or a key that is not 32, 48 or 64 hexadecimal digits is refused whole.
    bool save(const QList<Entry> &entries, QString *error = nullptr);

    QList<Entry> entries() const;
    // The key of an account as a message names it (leading zeros do not count); empty when
    // it has none.
    QByteArray keyFor(const QString &account) const;

    // An account as it is looked up: upper case, without leading zeros.
    static QString normalised(const QString &account);

private:
    QSqlDatabase m_db;
    QHash<QString, QByteArray> m_keys; // by normalised account
    QList<Entry> m_entries;
};

} // namespace tulmo
