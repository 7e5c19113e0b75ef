#include "EventCodeModel.h"

#include "core/common/Prompt.h"
#include "core/registry/ColumnLimits.h"

namespace tulmo {

namespace {
// The grid's column titles, in the order of EventCode::Column.
const char *const kTitles[EventCode::ColumnCount] = {
    "CÓDIGO", "DESCRIÇÃO", "Tipo", "Reg.Auto", "Envia SMS", "Prioridade", "Som contínuo", "Som",
};

bool isEmptyRow(const EventCode &row) {
    for (const QVariant &v : row.values)
        if (!v.toString().trimmed().isEmpty()) return false;
    return true;
}
} // namespace

EventCodeModel::EventCodeModel(Prompt *prompt, QObject *parent)
    : QAbstractTableModel(parent)
    , m_prompt(prompt) {}

void EventCodeModel::message(const QString &text, bool error) const {
    if (!m_prompt) return;
    if (error)
        m_prompt->message(text, QStringLiteral("ERRO"), Prompt::Icon::Error);
    else
        m_prompt->message(text, QStringLiteral("Codigos de Eventos"), Prompt::Icon::Warning);
}

bool EventCodeModel::reopen(QSqlDatabase db) {
    m_db = db;
    bool ok = false;
    QString errorText;
    QList<EventCode> rows = EventCodeRepository::list(db, &ok, &errorText);
    beginResetModel();
    m_rows = std::move(rows);
    m_editRow = -1;
    m_inserting = false;
    endResetModel();
    if (!ok)
        message(QStringLiteral("Houve um erro ao ler os códigos de eventos.\n\nMotivo: %1")
                    .arg(errorText.trimmed()),
                true);
    return ok;
}

const EventCode &EventCodeModel::row(int r) const {
    return m_rows.at(r);
}

int EventCodeModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EventCodeModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : EventCode::ColumnCount;
}

QVariant EventCodeModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const QVariant &v = m_rows[index.row()][index.column()];
    return v.isNull() ? QVariant(QString()) : QVariant(v.toString());
}

QVariant EventCodeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= EventCode::ColumnCount) return {};
    return QString::fromUtf8(kTitles[section]);
}

Qt::ItemFlags EventCodeModel::flags(const QModelIndex &index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void EventCodeModel::beginEdit(int r) {
    if (m_editRow == r) return;
    m_editRow = r;
    m_inserting = false;
    m_saved = m_rows[r];
    m_savedCode = m_saved.codigo();
}

bool EventCodeModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.row() >= m_rows.size()) return false;
    const int r = index.row();
    const int c = index.column();
    QVariant stored;
    if (EventCode::isNumber(c)) {
        const QString text = value.toString().trimmed();
        if (!text.isEmpty()) {
            bool ok = false;
            const int n = text.toInt(&ok);
            // SMALLINT columns: a number the database would refuse is as wrong as a letter.
            if (!ok || n < ColumnLimits::kSmallIntMin || n > ColumnLimits::kSmallIntMax) {
                message(QStringLiteral("\"%1\" não é um valor válido. %2")
                            .arg(text, ColumnLimits::rangeMessage(QString::fromUtf8(kTitles[c]),
                                                                  ColumnLimits::kSmallIntMin,
                                                                  ColumnLimits::kSmallIntMax)));
                return false;
            }
            stored = n;
        }
    } else {
        QString text = value.toString();
        // A code is looked up exactly as a panel reports it: spaces around it never match.
        if (c == EventCode::CodigoEvento) text = text.trimmed();
        stored = text.left(EventCode::textWidth(c));
    }
    if (m_rows[r][c].toString() == stored.toString() && m_rows[r][c].isNull() == stored.isNull())
        return true;
    if (m_editRow >= 0 && m_editRow != r && !post()) return false;
    beginEdit(r);
    m_rows[r][c] = stored;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

bool EventCodeModel::post() {
    if (m_editRow < 0) return true;
    const int r = m_editRow;
    // A new row left as it came is no row: nothing to save, nothing to say.
    if (m_inserting && isEmptyRow(m_rows[r])) {
        cancel();
        return true;
    }
    EventCode row = m_rows[r];
    if (row.codigo().isEmpty()) {
        message(QStringLiteral("Informe o código do evento."));
        return false;
    }
    EventCodeRepository::applyDefaults(row);
    QString character = ColumnLimits::characterFault(QStringLiteral("A descrição"),
                                                     row[EventCode::Descricao].toString());
    if (character.isEmpty())
        character = ColumnLimits::characterFault(QStringLiteral("O código"), row.codigo());
    if (character.isEmpty())
        character = ColumnLimits::characterFault(QStringLiteral("O caminho do som"),
                                                 row[EventCode::Som].toString());
    if (!character.isEmpty()) {
        message(QStringLiteral("Houve um erro ao gravar o código de evento \"%1\".\n\n%2")
                    .arg(row.codigo(), character),
                true);
        return false;
    }
    QString errorText;
    const bool moved = m_inserting || row.codigo() != m_savedCode;
    bool ok = true;
    if (moved && EventCodeRepository::exists(m_db, row.codigo(), &ok) && ok) {
        message(QStringLiteral("O código de evento \"%1\" já está cadastrado.").arg(row.codigo()));
        return false;
    }
    const bool saved =
        ok && (m_inserting ? EventCodeRepository::insert(m_db, row, &errorText)
                           : EventCodeRepository::update(m_db, m_savedCode, row, &errorText));
    if (!saved) {
        message(QStringLiteral("Houve um erro ao gravar o código de evento \"%1\".\n\nMotivo: %2")
                    .arg(row.codigo(), errorText.trimmed()),
                true);
        return false;
    }
    m_rows[r] = row;
    m_editRow = -1;
    m_inserting = false;
    emit dataChanged(index(r, 0), index(r, EventCode::ColumnCount - 1));
    return true;
}

void EventCodeModel::cancel() {
    if (m_editRow < 0) return;
    const int r = m_editRow;
    m_editRow = -1;
    if (m_inserting) {
        m_inserting = false;
        beginRemoveRows({}, r, r);
        m_rows.removeAt(r);
        endRemoveRows();
        return;
    }
    m_rows[r] = m_saved;
    emit dataChanged(index(r, 0), index(r, EventCode::ColumnCount - 1));
}

bool EventCodeModel::insertAt(int r) {
    if (!post()) return false;
    if (r < 0 || r > m_rows.size()) r = int(m_rows.size());
    beginInsertRows({}, r, r);
    m_rows.insert(r, EventCode{});
    endInsertRows();
    m_editRow = r;
    m_inserting = true;
    m_saved = EventCode{};
    m_savedCode.clear();
    return true;
}

QString EventCodeModel::deletionQuestion(int r) const {
    if (r < 0 || r >= m_rows.size()) return QString();
    if (r == m_editRow && m_inserting) {
        const QString typed = m_rows[r].codigo();
        return typed.isEmpty() ? QStringLiteral("Excluir a linha nova, ainda não gravada?")
                               : QStringLiteral("Excluir o código %1, ainda não gravado?").arg(typed);
    }
    const EventCode &stored = r == m_editRow ? m_saved : m_rows[r];
    const QString descricao = stored[EventCode::Descricao].toString().trimmed();
    const QString codigo = r == m_editRow ? m_savedCode : stored.codigo();
    return descricao.isEmpty()
               ? QStringLiteral("Excluir o código %1?").arg(codigo)
               : QStringLiteral("Excluir o código %1 - %2?").arg(codigo, descricao);
}

bool EventCodeModel::removeAt(int r) {
    if (r < 0 || r >= m_rows.size()) return false;
    if (r == m_editRow && m_inserting) {
        cancel();
        return true;
    }
    // Another row's changes are settled first; this row's unsaved changes go with it.
    if (m_editRow >= 0 && m_editRow != r && !post()) return false;
    const QString codigo = r == m_editRow ? m_savedCode : m_rows[r].codigo();
    QString errorText;
    if (!EventCodeRepository::remove(m_db, codigo, &errorText)) {
        message(QStringLiteral("Houve um erro ao excluir o código de evento \"%1\".\n\nMotivo: %2")
                    .arg(codigo, errorText.trimmed()),
                true);
        return false;
    }
    if (r == m_editRow) m_editRow = -1;
    beginRemoveRows({}, r, r);
    m_rows.removeAt(r);
    endRemoveRows();
    if (m_editRow > r) --m_editRow;
    return true;
}

} // namespace tulmo
