#include "Cadastro_Eventos_Padrao.h"

#include "ui/common/FileDialogChooser.h"
#include "core/common/FileChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Paths.h"
#include "core/common/Prompt.h"
#include "core/common/Sound.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/common/Sound.h"
#include "core/events/EventTypes.h"
#include "core/registry/EventCodeModel.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

namespace tulmo {

namespace {

Form_Eventos_Padrao::RowColors colorsOf(const QString &tipo, const QPalette &pal) {
    const EventTypes::Colors c = EventTypes::catalogueColors(tipo);
    return {c.background ? QColor(QRgb(*c.background)) : pal.color(QPalette::Base),
            c.text ? QColor(QRgb(*c.text)) : pal.color(QPalette::WindowText)};
}

// Paints every cell in its row's colours and edits a cell in a line limited to its column's
// width; the sound cell's editor carries the "..." button.
class CatalogueDelegate : public QStyledItemDelegate {
public:
    CatalogueDelegate(std::function<void()> soundButton, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_soundButton(std::move(soundButton)) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        Form_Eventos_Padrao::RowColors c;
        if (opt.state & QStyle::State_Selected)
            c = {opt.palette.color(QPalette::Highlight),
                 opt.palette.color(QPalette::HighlightedText)};
        else
            c = colorsOf(index.siblingAtColumn(EventCode::Tipo).data().toString(), opt.palette);
        painter->fillRect(opt.rect, c.background);
        // The text in the grid's usual way, over the colour just painted.
        opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        opt.backgroundBrush = c.background;
        opt.palette.setColor(QPalette::Text, c.text);
        opt.palette.setColor(QPalette::WindowText, c.text);
        QStyledItemDelegate::paint(painter, opt, index);
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &index) const override {
        auto *line = new QLineEdit;
        const int width = EventCode::textWidth(index.column());
        line->setMaxLength(width > 0 ? width : 6);
        if (index.column() != EventCode::Som) {
            line->setParent(parent);
            return line;
        }
        auto *box = new QWidget(parent);
        auto *l = new QHBoxLayout(box);
        l->setContentsMargins(0, 0, 0, 0);
        l->setSpacing(0);
        auto *button = new QToolButton;
        button->setObjectName(QStringLiteral("soundButton"));
        button->setText(QStringLiteral("..."));
        l->addWidget(line, 1);
        l->addWidget(button);
        box->setFocusProxy(line);
        box->setAutoFillBackground(true);
        connect(button, &QToolButton::clicked, box, [this] { m_soundButton(); });
        return box;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override {
        lineOf(editor)->setText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override {
        model->setData(index, lineOf(editor)->text(), Qt::EditRole);
    }

private:
    static QLineEdit *lineOf(QWidget *editor) {
        if (auto *l = qobject_cast<QLineEdit *>(editor)) return l;
        return editor->findChild<QLineEdit *>();
    }
    std::function<void()> m_soundButton;
};

} // namespace

Form_Eventos_Padrao::Form_Eventos_Padrao(CommonServices common, SoundOutput *sound, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_sound(sound)
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    setObjectName(QStringLiteral("Form_Eventos_Padrao"));
    setWindowTitle(QStringLiteral("Codigos de Eventos"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    m_chooser = m_defaultChooser.get();

    m_model = new EventCodeModel(common.prompt, this);
    m_model->setObjectName(QStringLiteral("Table_Eventos_Padrao"));
    m_grid = new QTableView;
    m_grid->setObjectName(QStringLiteral("catalogueGrid"));
    m_grid->setModel(m_model);
    m_grid->setItemDelegate(new CatalogueDelegate([this] { soundButtonClick(); }, m_grid));
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    m_grid->verticalHeader()->hide();
    const int widths[EventCode::ColumnCount] = {60, 260, 45, 60, 70, 70, 90, 0};
    for (int c = 0; c + 1 < EventCode::ColumnCount; ++c)
        m_grid->setColumnWidth(c, widths[c]);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->installEventFilter(this);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &Form_Eventos_Padrao::currentRowChanged);

    auto *hint = new QLabel(QStringLiteral(
        "Insert: novo código    Ctrl+Delete: excluir    Esc: desfazer a alteração da linha"));
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_grid, 1);
    l->addWidget(hint);
    setFixedSize(900, 520);
    applyKeyboardHabits(this);
}

Form_Eventos_Padrao::~Form_Eventos_Padrao() = default;

void Form_Eventos_Padrao::setFileChooser(FileChooser *chooser) {
    m_chooser = chooser ? chooser : m_defaultChooser.get();
}

void Form_Eventos_Padrao::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    FormShow();
}

void Form_Eventos_Padrao::FormShow() {
    m_model->reopen(m_common.database.secondary());
    if (m_model->rowCount() > 0) m_grid->setCurrentIndex(m_model->index(0, 0));
}

int Form_Eventos_Padrao::currentRow() const {
    const int r = m_grid->currentIndex().row();
    return r >= 0 && r < m_model->rowCount() ? r : -1;
}

Form_Eventos_Padrao::RowColors Form_Eventos_Padrao::rowColors(int row) const {
    return colorsOf(m_model->index(row, EventCode::Tipo).data().toString(), m_grid->palette());
}

void Form_Eventos_Padrao::commitOpenEditor() {
    QWidget *editor = m_grid->indexWidget(m_grid->currentIndex());
    if (!editor) return;
    QAbstractItemDelegate *d = m_grid->itemDelegate();
    emit d->commitData(editor);
    emit d->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void Form_Eventos_Padrao::currentRowChanged(const QModelIndex &current,
                                            const QModelIndex &previous) {
    if (m_returning || !previous.isValid() || current.row() == previous.row()) return;
    const int editRow = m_model->editRow();
    if (editRow < 0 || editRow == current.row()) return;
    if (m_model->post()) return;
    // The row keeps what was typed and stays current until it is saved or dropped.
    m_returning = true;
    m_grid->setCurrentIndex(m_model->index(m_model->editRow(), previous.column()));
    m_returning = false;
}

void Form_Eventos_Padrao::insertRow() {
    commitOpenEditor();
    const int r = currentRow() < 0 ? 0 : currentRow();
    if (!m_model->insertAt(r)) return;
    m_returning = true; // the new row is current; nothing to save on the way
    m_grid->setCurrentIndex(m_model->index(m_model->editRow(), EventCode::CodigoEvento));
    m_returning = false;
}

void Form_Eventos_Padrao::deleteCurrentRow() {
    const int r = currentRow();
    if (r < 0) return;
    Prompt *p = m_common.prompt;
    // The question names the row it deletes: the current row may not be the one in sight.
    if (!p || !p->question(m_model->deletionQuestion(r), windowTitle(), Prompt::Icon::Question,
                           false))
        return;
    commitOpenEditor();
    m_model->removeAt(r);
}

void Form_Eventos_Padrao::soundButtonClick() {
    commitOpenEditor();
    const int r = currentRow();
    if (r < 0 || !m_chooser) return;
    const QString fileName = m_chooser->openFile(
        QStringLiteral("Som"), Paths::resolveStoredPath(QStringLiteral("C:\\Tulmo\\Sons")),
        QStringLiteral("Arquivos de som(*.wav)"));
    if (fileName.isEmpty()) return;
    if (!m_model->setData(m_model->index(r, EventCode::Som), fileName) || !m_model->post()) return;
    if (SoundOutput *som = m_sound) som->playOnce(fileName);
}

bool Form_Eventos_Padrao::eventFilter(QObject *watched, QEvent *event) {
    if (watched != m_grid || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *k = static_cast<QKeyEvent *>(event);
    if (k->key() == Qt::Key_Insert && k->modifiers() == Qt::NoModifier) {
        insertRow();
        return true;
    }
    if (k->key() == Qt::Key_Delete && k->modifiers() == Qt::ControlModifier) {
        deleteCurrentRow();
        return true;
    }
    if (k->key() == Qt::Key_Escape && m_model->editRow() >= 0) {
        m_model->cancel();
        return true;
    }
    // Down from the last row appends one, unless that row is itself a new untouched one.
    if (k->key() == Qt::Key_Down && k->modifiers() == Qt::NoModifier &&
        currentRow() == m_model->rowCount() - 1 &&
        !(m_model->isInserting() && m_model->editRow() == currentRow())) {
        commitOpenEditor();
        if (m_model->insertAt(m_model->rowCount())) {
            m_returning = true;
            m_grid->setCurrentIndex(
                m_model->index(m_model->editRow(), m_grid->currentIndex().column()));
            m_returning = false;
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Form_Eventos_Padrao::reject() {
    // Closing saves the row being edited, as leaving it would; what cannot be saved keeps the
    // window open with the row as typed (Esc on the grid drops it).
    commitOpenEditor();
    if (!m_model->post()) return;
    QDialog::reject();
}

} // namespace tulmo
