#include "SubRecordModel.h"

#include "core/operators/AuditTrail.h"
#include "core/store/TransactionGuard.h"

#include "core/registry/ColumnLimits.h"

#include <QScopedValueRollback>
#include <QSqlError>
#include <QSqlQuery>

namespace tulmo {

namespace {
QVariant nullText() {
    return QVariant(QMetaType(QMetaType::QString));
}
} // namespace

SubRecordModel::SubRecordModel(Kind kind, QObject *parent)
    : QAbstractTableModel(parent)
    , m_kind(kind) {}

QString SubRecordModel::table() const {
    switch (m_kind) {
    case Kind::Usuarios:
        return QStringLiteral("USUARIOS");
    case Kind::Zonas:
        return QStringLiteral("ZONAS");
    case Kind::Particoes:
        return QStringLiteral("PARTICOES");
    }
    return {};
}

QString SubRecordModel::keyColumn() const {
    switch (m_kind) {
    case Kind::Usuarios:
        return QStringLiteral("USUARIO");
    case Kind::Zonas:
        return QStringLiteral("ZONA");
    case Kind::Particoes:
        return QStringLiteral("PARTICAO");
    }
    return {};
}

QString SubRecordModel::descriptionColumn() const {
    return m_kind == Kind::Particoes ? QStringLiteral("NOME_PARTICAO")
                                     : QStringLiteral("DESCRICAO");
}

QString SubRecordModel::keyTitle() const {
    return headerData(KeyColumn, Qt::Horizontal).toString();
}

QString SubRecordModel::descriptionTitle() const {
    return headerData(DescriptionColumn, Qt::Horizontal).toString();
}

int SubRecordModel::descriptionWidth() const {
    return m_kind == Kind::Particoes ? 16 : 20;
}

bool SubRecordModel::reopen(QSqlDatabase db, const QString &conta, QString *errorText) {
    beginResetModel();
    m_db = db;
    m_conta = conta;
    m_rows.clear();
    m_editing = -1;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The account's number as a parameter: the original filtered with it unquoted, which
    // compared numbers, not texts.
    const bool ran = q.prepare(QStringLiteral("Select %1, %2 From %3\nWhere CONTA = :Conta\n"
                                              "Order By %1")
                                   .arg(keyColumn(), descriptionColumn(), table())) &&
                     (q.bindValue(QStringLiteral(":Conta"), conta), q.exec());
    if (ran) {
        while (q.next()) {
            Row r;
            r.chave = r.storedChave = q.value(0);
            r.descricao = r.storedDescricao = q.value(1);
            m_rows.append(r);
        }
    } else if (errorText) {
        *errorText = q.lastError().text();
    }
    endResetModel();
    if (ran) keepOneRow();
    return ran;
}

void SubRecordModel::close() {
    beginResetModel();
    m_rows.clear();
    m_editing = -1;
    endResetModel();
}

void SubRecordModel::keepOneRow() {
    if (!m_rows.isEmpty() || !m_db.isValid()) return;
    Row r;
    r.state = State::Inserted;
    beginInsertRows({}, 0, 0);
    m_rows.append(r);
    endInsertRows();
    m_editing = 0;
}

int SubRecordModel::appendRow() {
    if (!post()) return -1;
    // The blank row of an empty table is the new row already.
    if (m_editing >= 0) return m_editing;
    Row r;
    r.state = State::Inserted;
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.append(r);
    endInsertRows();
    m_editing = at;
    return at;
}

void SubRecordModel::removeRowAt(int row) {
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
    if (m_editing == row)
        m_editing = -1;
    else if (m_editing > row)
        --m_editing;
}

bool SubRecordModel::post() {
    // Taking a row out moves a view's current row, and a view posts the row it leaves: that
    // post, inside this one, has nothing left to do.
    if (m_editing < 0 || m_posting) return true;
    const QScopedValueRollback<bool> posting(m_posting, true);
    Row &r = m_rows[m_editing];
    if (!r.modified) {
        // Nothing typed: a new row is no row, an altered one was not altered.
        if (r.state == State::Inserted && m_rows.size() > 1)
            removeRowAt(m_editing);
        else if (r.state == State::Edited) {
            r.state = State::Stored;
            m_editing = -1;
        }
        return true;
    }
    if (r.chave.isNull()) {
        removeRowAt(m_editing);
        keepOneRow();
        return true;
    }
    const qlonglong chave = r.chave.toLongLong();
    if (chave < 0 || chave > kMaxKey) {
        emit postRefused(ColumnLimits::rangeMessage(keyTitle(), 0, kMaxKey));
        return false;
    }
    const QString character = ColumnLimits::characterFault(
        QStringLiteral("O campo \"%1\"").arg(descriptionTitle()), r.descricao.toString());
    if (!character.isEmpty()) {
        emit postFailed(character, character);
        return false;
    }
    QString errorText, reason;
    if (!write(r, &errorText, &reason)) {
        emit postFailed(errorText, reason);
        return false;
    }
    r.storedChave = r.chave;
    r.storedDescricao = r.descricao;
    r.state = State::Stored;
    r.modified = false;
    m_editing = -1;
    return true;
}

bool SubRecordModel::write(Row &r, QString *errorText, QString *reason) {
    TransactionGuard transaction(m_db);
    if (!transaction.begun()) {
        if (errorText) *errorText = m_db.lastError().text();
        return false;
    }
    QSqlQuery q(m_db);
    if (r.state == State::Inserted) {
        q.prepare(
            QStringLiteral("Insert Into %1 (CONTA, %2, %3)\nValues (:Conta, :Chave, :Descricao)")
                .arg(table(), keyColumn(), descriptionColumn()));
    } else {
        // No key of its own: the row is found by the values it was read with (one of twins
        // is as good as the other).
        q.prepare(QStringLiteral("Update %1 Set %2 = :Chave, %3 = :Descricao\n"
                                 "Where CONTA = :Conta and %2 is not distinct from :ChaveAnterior\n"
                                 "and %3 is not distinct from :DescricaoAnterior\nRows 1")
                      .arg(table(), keyColumn(), descriptionColumn()));
        q.bindValue(QStringLiteral(":ChaveAnterior"), r.storedChave);
        q.bindValue(QStringLiteral(":DescricaoAnterior"),
                    r.storedDescricao.isNull() ? nullText() : r.storedDescricao);
    }
    q.bindValue(QStringLiteral(":Conta"), m_conta);
    q.bindValue(QStringLiteral(":Chave"), r.chave);
    q.bindValue(QStringLiteral(":Descricao"), r.descricao.isNull() ? nullText() : r.descricao);
    if (!q.exec()) {
        if (errorText) *errorText = q.lastError().text();
        if (reason) *reason = ColumnLimits::valueReason(q.lastError());
        return false;
    }
    if (r.state == State::Edited && q.numRowsAffected() < 1) {
        if (errorText) *errorText = QStringLiteral("o registro não existe mais");
        return false;
    }
    const bool inserted = r.state == State::Inserted;
    const audit::Entry entry{
        QString::fromUtf8(inserted ? audit::kInsert : audit::kUpdate),
        QStringLiteral("%1 %2 da conta %3").arg(table(), r.chave.toString(), m_conta), m_conta,
        inserted ? QString()
                 : audit::fields({{keyColumn().toUtf8().constData(), r.storedChave},
                                  {descriptionColumn().toUtf8().constData(), r.storedDescricao}}),
        audit::fields({{keyColumn().toUtf8().constData(), r.chave},
                       {descriptionColumn().toUtf8().constData(), r.descricao}})};
    if (!audit::write(m_db, entry, errorText)) return false;
    if (!transaction.commit()) {
        if (errorText) *errorText = m_db.lastError().text();
        return false;
    }
    return true;
}

void SubRecordModel::cancel() {
    if (m_editing < 0) return;
    Row &r = m_rows[m_editing];
    if (r.state == State::Inserted) {
        if (!r.modified && m_rows.size() == 1) return; // the blank row stays
        removeRowAt(m_editing);
        keepOneRow();
        return;
    }
    r.chave = r.storedChave;
    r.descricao = r.storedDescricao;
    r.state = State::Stored;
    r.modified = false;
    emit dataChanged(index(m_editing, 0), index(m_editing, 2));
    m_editing = -1;
}

QVariant SubRecordModel::key(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows[row].chave : QVariant();
}

QVariant SubRecordModel::description(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows[row].descricao : QVariant();
}

int SubRecordModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SubRecordModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant SubRecordModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const Row &r = m_rows[index.row()];
    switch (index.column()) {
    case ContaColumn:
        return m_conta;
    case KeyColumn:
        return r.chave.isNull() ? QVariant(QString()) : QVariant(r.chave.toLongLong());
    case DescriptionColumn:
        return r.descricao.toString();
    }
    return {};
}

bool SubRecordModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_rows.size()) return false;
    if (index.column() != KeyColumn && index.column() != DescriptionColumn) return false;
    QVariant v;
    const QString text = value.toString();
    if (index.column() == KeyColumn) {
        const QString digits = text.trimmed();
        if (!digits.isEmpty()) {
            bool ok = digits.size() <= 9; // any such number is shown as typed, and refused
            for (QChar c : digits)
                if (!c.isDigit()) ok = false;
            if (!ok) return false;
            v = digits.toLongLong();
        }
    } else if (!text.isEmpty()) {
        v = text.left(descriptionWidth());
    }
    int row = index.row();
    if (m_editing >= 0 && m_editing != row) {
        const bool below = m_editing < row;
        const int before = int(m_rows.size());
        if (!post()) return false;
        // Posting may have taken its row out of the grid, moving the rows after it up.
        if (below && int(m_rows.size()) < before) --row;
        if (row < 0 || row >= m_rows.size()) return false;
    }
    Row &r = m_rows[row];
    QVariant &field = index.column() == KeyColumn ? r.chave : r.descricao;
    if (field == v && field.isNull() == v.isNull()) return true;
    field = v;
    r.modified = true;
    if (r.state == State::Stored) r.state = State::Edited;
    m_editing = row;
    emit dataChanged(this->index(row, index.column()), this->index(row, index.column()));
    return true;
}

Qt::ItemFlags SubRecordModel::flags(const QModelIndex &index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() != ContaColumn) f |= Qt::ItemIsEditable;
    return f;
}

QVariant SubRecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ContaColumn:
        return QStringLiteral("CONTA");
    case KeyColumn:
        switch (m_kind) {
        case Kind::Usuarios:
            return QStringLiteral("NUMERO DO USUARIO");
        case Kind::Zonas:
            return QStringLiteral("NUMERO DA ZONA");
        case Kind::Particoes:
            return QStringLiteral("PARTIÇÃO");
        }
        break;
    case DescriptionColumn:
        switch (m_kind) {
        case Kind::Usuarios:
            return QStringLiteral("DESCRIÇÃO DO USUARIO");
        case Kind::Zonas:
            return QStringLiteral("DESCRIÇÃO DA ZONA");
        case Kind::Particoes:
            return QStringLiteral("NOME DA PARTIÇÃO");
        }
        break;
    }
    return {};
}

} // namespace tulmo
