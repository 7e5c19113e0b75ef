#include "PortMonitorView.h"

#include "core/common/DateFormats.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tulmo {

namespace {
// The port monitor's colours: the classic scheme's active caption.
const QColor kActiveCaption(0x0A, 0x24, 0x6A);
const QString kPause = QStringLiteral("Pausar");
const QString kResume = QStringLiteral("Continuar");
} // namespace

PortMonitorView::PortMonitorView(LineLog &log, QWidget *parent)
    : QWidget(parent)
    , m_log(log)
    , m_text(new QPlainTextEdit)
    , m_filter(new QComboBox)
    , m_pause(new QPushButton(kPause))
    , m_copy(new QPushButton(QStringLiteral("Copiar")))
    , m_held(new QLabel) {
    setObjectName(QStringLiteral("Painel_Visor"));
    m_text->setObjectName(QStringLiteral("Porta_Visor"));
    m_text->setReadOnly(true);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text->setMinimumSize(520, 160);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette pal = m_text->palette();
    pal.setColor(QPalette::Base, kActiveCaption);
    pal.setColor(QPalette::Text, Qt::white);
    m_text->setPalette(pal);
    m_text->setMaximumBlockCount(m_log.maxLines());

    m_filter->setObjectName(QStringLiteral("Combo_Filtro_Visor"));
    m_filter->addItem(QStringLiteral("Todos os receivers"), 0);
    m_pause->setObjectName(QStringLiteral("Botao_Pausar_Visor"));
    m_pause->setCheckable(true);
    m_pause->setAutoDefault(false);
    m_pause->setToolTip(QStringLiteral("Para a rolagem; as linhas que chegam são guardadas"));
    m_copy->setObjectName(QStringLiteral("Botao_Copiar_Visor"));
    m_copy->setAutoDefault(false);
    m_copy->setToolTip(QStringLiteral("Copia as linhas selecionadas, ou todas as mostradas"));
    m_held->setObjectName(QStringLiteral("Label_Visor_Pausado"));

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(new QLabel(QStringLiteral("Monitor de portas:")));
    bar->addWidget(m_filter);
    bar->addWidget(m_pause);
    bar->addWidget(m_copy);
    bar->addWidget(m_held, 1);
    auto *l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addLayout(bar);
    l->addWidget(m_text, 1);

    connect(&m_log, &LineLog::entryAdded, this, &PortMonitorView::entryAdded);
    connect(&m_log, &LineLog::cleared, this, [this] {
        m_heldLines = 0;
        m_text->clear();
        showHeld();
    });
    connect(m_filter, &QComboBox::currentIndexChanged, this, &PortMonitorView::rebuild);
    connect(m_pause, &QPushButton::toggled, this, &PortMonitorView::setPaused);
    connect(m_copy, &QPushButton::clicked, this, &PortMonitorView::copyLines);
    rebuild();
}

QString PortMonitorView::formatLine(const LineLog::Entry &e) {
    return e.time.toString(DateFormats::kDateTime) + QStringLiteral("  ") +
           LineLog::printable(e.text);
}

void PortMonitorView::setReceivers(const QList<QPair<int, QString>> &receivers) {
    const int shown = filterSlot();
    const QSignalBlocker hold(m_filter);
    while (m_filter->count() > 1)
        m_filter->removeItem(1);
    for (const auto &[number, nome] : receivers)
        m_filter->addItem(QStringLiteral("%1 - %2").arg(number).arg(nome), number);
    const int i = m_filter->findData(shown);
    m_filter->setCurrentIndex(i < 0 ? 0 : i);
    if (i < 0 && shown != 0) rebuild();
}

int PortMonitorView::filterSlot() const {
    return m_filter->currentData().toInt();
}

void PortMonitorView::setFilterSlot(int slot) {
    const int i = m_filter->findData(slot);
    if (i >= 0) m_filter->setCurrentIndex(i);
}

bool PortMonitorView::shows(const LineLog::Entry &e) const {
    const int slot = filterSlot();
    return slot == 0 || e.slot == slot;
}

void PortMonitorView::entryAdded(const LineLog::Entry &e) {
    if (!shows(e)) return;
    if (m_paused) {
        ++m_heldLines;
        showHeld();
        return;
    }
    m_text->appendPlainText(formatLine(e));
    // Following the traffic, the view stays on the lines' beginnings, where the times are.
    m_text->horizontalScrollBar()->setValue(0);
}

void PortMonitorView::rebuild() {
    QStringList shown;
    for (const LineLog::Entry &e : m_log.entries())
        if (shows(e)) shown << formatLine(e);
    const int scroll = m_text->verticalScrollBar()->value();
    m_text->setPlainText(shown.join(QLatin1Char('\n')));
    // Paused, the view stays where the operator was reading; otherwise it follows the end.
    QScrollBar *bar = m_text->verticalScrollBar();
    bar->setValue(m_paused ? scroll : bar->maximum());
    m_text->horizontalScrollBar()->setValue(0);
    m_heldLines = 0;
    showHeld();
}

void PortMonitorView::setPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    {
        const QSignalBlocker hold(m_pause);
        m_pause->setChecked(paused);
    }
    m_pause->setText(paused ? kResume : kPause);
    if (!paused) rebuild(); // what came meanwhile, in its place
    showHeld();
}

void PortMonitorView::showHeld() {
    m_held->setText(m_paused ? QStringLiteral("Pausado: %1 linha(s) nova(s)").arg(m_heldLines)
                             : QString());
}

QString PortMonitorView::copyLines() {
    QString text = m_text->textCursor().selectedText();
    // A selection spans paragraphs with U+2029; the clipboard wants line ends.
    text.replace(QChar(0x2029), QLatin1Char('\n'));
    if (text.isEmpty()) text = m_text->toPlainText();
    if (QClipboard *c = QApplication::clipboard()) c->setText(text);
    return text;
}

} // namespace tulmo
