#include "Dc09Keys.h"

#include "core/operators/AuditTrail.h"

#include "core/reception/Dc09Message.h"
#include "core/store/TransactionGuard.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tulmo {

QString Dc09Keys::normalised(const QString &account) {
    QString a = account.trimmed().toUpper();
    while (a.size() > 1 && a.startsWith(QLatin1Char('0')))
        a.remove(0, 1);
    return a;
}

bool Dc09Keys::load(QString *error) {
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("Select ACCOUNT, AES_KEY from DC09_KEYS order by ACCOUNT"))) {
        if (error) *error = q.lastError().text();
        return false;
    }
    QHash<QString, QByteArray> keys;
    QList<Entry> entries;
    while (q.next()) {
        const Entry e{q.value(0).toString().trimmed(), q.value(1).toString().trimmed()};
        const QByteArray key = Dc09Codec::keyFromHex(e.keyHex);
        if (e.account.isEmpty() || key.isEmpty()) continue;
        keys.insert(normalised(e.account), key);
        entries.append(e);
    }
    m_keys = keys;
    m_entries = entries;
    return true;
}

bool Dc09Keys::save(const QList<Entry> &entries, QString *error) {
    for (const Entry &e : entries) {
        if (e.account.trimmed().isEmpty() || Dc09Codec::keyFromHex(e.keyHex).isEmpty()) {
            if (error)
                *error = QStringLiteral("A chave da conta \"%1\" deve ter 32, 48 ou 64 dígitos "
                                        "hexadecimais.")
                             .arg(e.account.trimmed());
            return false;
        }
    }
    TransactionGuard transaction(m_db);
    QSqlQuery q(m_db);
    auto accounts = [](const QList<Entry> &list) {
        QStringList l;
        for (const Entry &e : list)
            l << e.account.trimmed().toUpper();
        return QStringLiteral("CONTAS=") + l.join(QLatin1Char(','));
    };
    // The keys themselves are never written down.
    QString auditError;
    bool ok = audit::write(m_db,
                           {QString::fromUtf8(audit::kSettings), QStringLiteral("Chaves DC-09"),
                            QString(), accounts(m_entries), accounts(entries)},
                           &auditError) &&
              q.exec(QStringLiteral("Delete from DC09_KEYS"));
    for (const Entry &e : entries) {
        if (!ok) break;
        q.prepare(QStringLiteral("Update or Insert into DC09_KEYS (ACCOUNT, AES_KEY)\n"
                                 "values (:account, :aes_key) matching (ACCOUNT)"));
        q.bindValue(QStringLiteral(":account"), e.account.trimmed().toUpper());
        q.bindValue(QStringLiteral(":aes_key"), e.keyHex.trimmed().toUpper());
        ok = q.exec();
    }
    if (!ok || !transaction.commit()) {
        if (error) *error = q.lastError().isValid() ? q.lastError().text() : m_db.lastError().text();
        return false;
    }
    return load(error);
}

QList<Dc09Keys::Entry> Dc09Keys::entries() const {
    return m_entries;
}

QByteArray Dc09Keys::keyFor(const QString &account) const {
    return m_keys.value(normalised(account));
}

} // namespace tulmo
