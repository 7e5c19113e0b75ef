#include "Dc09KeysDialog.h"

#include "core/common/Prompt.h"
#include "core/reception/Dc09Keys.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tulmo {

namespace {
QPushButton *button(const QString &text, const char *name) {
    auto *b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

// A key is a secret: the table shows one dot per digit, and the digits only in the field of
// the row being edited.
class MaskedKeyDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant &value, const QLocale &) const override {
        return Dc09KeysDialog::maskedKey(value.toString());
    }
};
} // namespace

QString Dc09KeysDialog::maskedKey(const QString &key) {
    return QString(key.trimmed().size(), QChar(0x2022));
}

Dc09KeysDialog::Dc09KeysDialog(Dc09Keys &keys, Prompt *prompt, QWidget *parent)
    : QDialog(parent)
    , m_keys(keys)
    , m_prompt(prompt)
    , m_table(new QTableWidget(0, 2)) {
    setObjectName(QStringLiteral("Dc09KeysDialog"));
    setWindowTitle(QStringLiteral("Chaves DC-09"));
    m_table->setObjectName(QStringLiteral("Grid_Chaves"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Conta"), QStringLiteral("Chave AES (hexadecimal)")});
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_table->setMinimumWidth(560);
    m_table->setItemDelegateForColumn(1, new MaskedKeyDelegate(m_table));
    for (const Dc09Keys::Entry &e : m_keys.entries()) {
        const int r = m_table->rowCount();
        m_table->insertRow(r);
        m_table->setItem(r, 0, new QTableWidgetItem(e.account));
        m_table->setItem(r, 1, new QTableWidgetItem(e.keyHex));
    }
    auto *add = button(QStringLiteral("Incluir"), "Botao_Incluir_Chave");
    auto *remove = button(QStringLiteral("Excluir"), "Botao_Excluir_Chave");
    auto *ok = button(QStringLiteral("Salvar"), "Botao_Salvar_Chaves");
    auto *cancel = button(QStringLiteral("Cancelar"), "Botao_Cancelar_Chaves");
    connect(add, &QPushButton::clicked, this, &Dc09KeysDialog::addRow);
    connect(remove, &QPushButton::clicked, this, &Dc09KeysDialog::removeRow);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (save()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_table, 1);
    l->addLayout(buttons);
}

void Dc09KeysDialog::addRow() {
    const int r = m_table->rowCount();
    m_table->insertRow(r);
    m_table->setItem(r, 0, new QTableWidgetItem);
    m_table->setItem(r, 1, new QTableWidgetItem);
    m_table->setCurrentCell(r, 0);
    m_table->editItem(m_table->item(r, 0));
}

void Dc09KeysDialog::removeRow() {
    if (m_table->currentRow() >= 0) m_table->removeRow(m_table->currentRow());
}

bool Dc09KeysDialog::save() {
    QList<Dc09Keys::Entry> entries;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        auto text = [&](int c) { return m_table->item(r, c) ? m_table->item(r, c)->text().trimmed() : QString(); };
        if (text(0).isEmpty() && text(1).isEmpty()) continue; // a row left blank
        entries.append({text(0), text(1)});
    }
    QString error;
    if (m_keys.save(entries, &error)) return true;
    if (m_prompt)
        m_prompt->message(QStringLiteral("Houve um erro ao gravar as chaves DC-09.\n\n") + error,
                          QStringLiteral("ERRO"), Prompt::Icon::Error);
    return false;
}

} // namespace tulmo
