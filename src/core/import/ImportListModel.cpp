#include "ImportListModel.h"

#include <algorithm>
#include <functional>

namespace tulmo {

const QStringList &ImportListModel::titles() {
    static const QStringList t{
        QStringLiteral("Conta"),    QStringLiteral("Cliente"),       QStringLiteral("Descrição"),
        QStringLiteral("Data"),     QStringLiteral("Codigo"),        QStringLiteral("Argumento"),
        QStringLiteral("Partição"), QStringLiteral("Nome Partição"), QStringLiteral("Tipo"),
        QStringLiteral("String1"),  QStringLiteral("String2"),       QStringLiteral("IdeCall")};
    return t;
}

int ImportListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ImportListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ImportListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    const ImportRow &r = m_rows.at(index.row());
    if (role == Qt::CheckStateRole && index.column() == Conta)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case Conta:
        return r.conta;
    case Cliente:
        return r.cliente;
    case Descricao:
        return r.descricao;
    case Data:
        return r.data;
    case Codigo:
        return r.codigo;
    case Argumento:
        return r.argumento;
    case Particao:
        return r.particao;
    case NomeParticao:
        return r.nomeParticao;
    case Tipo:
        return r.tipo;
    case String1:
        return r.string1;
    case String2:
        return r.string2;
    case IdeCall:
        return r.ideCall;
    default:
        return {};
    }
}

bool ImportListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || index.column() != Conta || role != Qt::CheckStateRole) return false;
    m_rows[index.row()].checked = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags ImportListModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Conta) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ImportListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && role == Qt::DisplayRole) return titles().value(section);
    return QAbstractTableModel::headerData(section, o, role);
}

void ImportListModel::clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void ImportListModel::append(const QList<ImportRow> &rows) {
    if (rows.isEmpty()) return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size() - 1));
    m_rows.append(rows);
    endInsertRows();
}

void ImportListModel::removeRowsAt(QList<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int r : rows) {
        if (r < 0 || r >= m_rows.size()) continue;
        beginRemoveRows({}, r, r);
        m_rows.removeAt(r);
        endRemoveRows();
    }
}

void ImportListModel::invertChecks() {
    if (m_rows.isEmpty()) return;
    for (ImportRow &r : m_rows)
        r.checked = !r.checked;
    emit dataChanged(index(0, Conta), index(int(m_rows.size()) - 1, Conta), {Qt::CheckStateRole});
}

QList<int> ImportListModel::checkedRows() const {
    QList<int> out;
    for (int i = 0; i < m_rows.size(); ++i)
        if (m_rows.at(i).checked) out.append(i);
    return out;
}

} // namespace tulmo
