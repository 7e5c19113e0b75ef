#include "ImportRepository.h"

#include <QVariant>

namespace tulmo {

ImportRepository::ImportRepository(QSqlDatabase db)
    : m_db(std::move(db))
    , m_query(m_db) {}

bool ImportRepository::isRecorded(const QString &conta, const QString &codigo,
                                  const QString &argumento, int particao, const QDateTime &data,
                                  bool *found) {
    if (!m_prepared) {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(QStringLiteral("Select * from EVENTOS where CONTA =:conta\n"
                                            "and CODIGO_ALARME =:codigo\n"
                                            "and ARGUMENTO =:argumento\n"
                                            "and NUMERO_PARTICAO =:numero_particao\n"
                                            "and DATA =:data"))) {
            m_error = m_query.lastError();
            return false;
        }
        m_prepared = true;
    }
    m_query.bindValue(QStringLiteral(":conta"), conta);
    m_query.bindValue(QStringLiteral(":codigo"), codigo);
    m_query.bindValue(QStringLiteral(":argumento"), argumento);
    m_query.bindValue(QStringLiteral(":numero_particao"), particao);
    m_query.bindValue(QStringLiteral(":data"), data);
    if (!m_query.exec()) {
        m_error = m_query.lastError();
        return false;
    }
    *found = m_query.next();
    m_query.finish();
    return true;
}

} // namespace tulmo
