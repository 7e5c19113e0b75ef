#include "GprsTableModel.h"

#include "core/common/Clock.h"
#include "core/common/DateFormats.h"
#include "core/common/Prompt.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/store/Database.h"

#include <QSqlError>

namespace tulmo {

namespace {
const char *const kTitles[GprsTableModel::ColumnCount] = {
    "IMEI", "CONTA", "STATUS", "DATA", "LISTA NEGRA", "EQUIPAMENTO", "SENHA_ACESSO"};
} // namespace

GprsTableModel::GprsTableModel(Database &database, GprsDirectory &directory, const Clock &clock,
                               QObject *parent)
    : QAbstractTableModel(parent)
    , m_database(database)
    , m_directory(directory)
    , m_clock(clock)
    , m_connectionName(QStringLiteral("tulmo-gprs-%1").arg(quintptr(this))) {}

GprsTableModel::~GprsTableModel() {
    close();
    if (QSqlDatabase::contains(m_connectionName)) QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase GprsTableModel::connection() const {
    return QSqlDatabase::database(m_connectionName, false);
}

bool GprsTableModel::reopen(QString *errorText) {
    beginResetModel();
    m_rows.clear();
    endResetModel();
    if (!QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::cloneDatabase(m_database.primary(), m_connectionName);
    QSqlDatabase db = connection();
    db.close();
    if (!db.open()) {
        if (errorText) *errorText = db.lastError().text();
        return false;
    }
    std::optional<QList<GprsModule>> modules = GprsRepository::all(db, errorText);
    if (!modules) return false;
    beginResetModel();
    for (const GprsModule &m : *modules)
        m_rows.append({m, m.imei, false});
    endResetModel();
    return true;
}

void GprsTableModel::close() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
    if (QSqlDatabase::contains(m_connectionName)) connection().close();
}

int GprsTableModel::appendModule() {
    const int r = int(m_rows.size());
    beginInsertRows({}, r, r);
    m_rows.append(Entry{});
    m_rows.last().dirty = true;
    endInsertRows();
    return r;
}

bool GprsTableModel::dropIfBlank(int row) {
    if (row < 0 || row >= m_rows.size() || !m_rows[row].original.isEmpty()) return false;
    const GprsModule &m = m_rows[row].module;
    if (!(m.imei + m.conta + m.listaNegra + m.equipamento + m.senhaAcesso).isEmpty()) return false;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
    return true;
}

bool GprsTableModel::post(int row, Prompt *prompt) {
    if (row < 0 || row >= m_rows.size()) return false;
    GprsModule m = m_rows[row].module;
    GprsRepository::prepareForPost(m, m_clock.now());
    if (const QString why = GprsRepository::invalidInput(m); !why.isEmpty()) {
        if (prompt) prompt->message(why, QStringLiteral("Cadastro de GPRS"), Prompt::Icon::Warning);
        return false;
    }
    QString errorText;
    switch (GprsRepository::post(connection(), &m_directory, m_rows[row].original, m,
                                 &errorText)) {
    case GprsRepository::Post::Duplicate:
        if (prompt)
            prompt->message(QStringLiteral("O IMEI %1 já está cadastrado.").arg(m.imei),
                            QStringLiteral("Cadastro de GPRS"), Prompt::Icon::Warning);
        return false;
    case GprsRepository::Post::Failed:
        if (prompt)
            prompt->message(QStringLiteral("Houve um erro ao gravar o módulo."),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    case GprsRepository::Post::Saved:
        break;
    }
    m_rows[row] = {m, m.imei, false};
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    return true;
}

bool GprsTableModel::removeModule(int row, ConnectionRegistry *devices, Prompt *prompt) {
    if (row < 0 || row >= m_rows.size()) return false;
    const QString imei = m_rows[row].original;
    // The row goes first: should the database refuse, the module keeps its connection too.
    if (!imei.isEmpty() && !GprsRepository::remove(connection(), &m_directory, imei)) {
        if (prompt)
            prompt->message(QStringLiteral("Houve um erro ao excluir o módulo."),
                            QStringLiteral("ERRO"), Prompt::Icon::Error);
        return false;
    }
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
    if (devices && !imei.isEmpty()) devices->closeDevice(imei);
    return true;
}

unsigned GprsTableModel::rowColor(int row) const {
    const GprsModule &m = m_rows[row].module;
    return GprsRepository::rowColor(m.status, m.listaNegra);
}

int GprsTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int GprsTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant GprsTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const GprsModule &m = m_rows[index.row()].module;
    switch (index.column()) {
    case ColImei:
        return m.imei;
    case ColConta:
        return m.conta;
    case ColStatus:
        return m.status;
    case ColData:
        return m.data.isValid() ? m.data.toString(DateFormats::kDateTime) : QString();
    case ColListaNegra:
        return m.listaNegra;
    case ColEquipamento:
        return m.equipamento;
    case ColSenha:
        return m.senhaAcesso;
    default:
        return {};
    }
}

bool GprsTableModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    GprsModule &m = m_rows[index.row()].module;
    const QString v = value.toString();
    switch (index.column()) {
    case ColImei:
        m.imei = v.trimmed();
        break;
    case ColConta:
        m.conta = v.trimmed();
        break;
    case ColListaNegra:
        m.listaNegra = v.trimmed();
        break;
    case ColEquipamento:
        m.equipamento = v;
        break;
    case ColSenha:
        m.senhaAcesso = v;
        break;
    default:
        return false;
    }
    m_rows[index.row()].dirty = true;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags GprsTableModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.column() != ColStatus && index.column() != ColData) f |= Qt::ItemIsEditable;
    return f;
}

QVariant GprsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kTitles[section]);
}

} // namespace tulmo
