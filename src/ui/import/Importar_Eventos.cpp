#include "Importar_Eventos.h"

#include "core/operators/AuditTrail.h"

#include "ui/common/ColumnWidths.h"
#include "ui/common/FileDialogChooser.h"
#include "core/common/Prompt.h"
#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/store/Database.h"
#include "core/events/EventPump.h"
#include "core/events/EventQueue.h"
#include "core/events/EventRecorder.h"
#include "core/reception/Data_Modulo2.h"
#include "core/import/ImportListModel.h"
#include "core/import/SerialExport.h"
#include "ui/import/SerialPortDialog.h"
#include "core/settings/IniFile.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tulmo {

namespace {

const QString kCaption = QStringLiteral("Importar Eventos");

QPushButton *button(const char *nome, const QString &text) {
    auto *b = named(new QPushButton(text), nome);
    b->setAutoDefault(false);
    return b;
}

} // namespace

Form_Importar_Eventos::Form_Importar_Eventos(CommonServices common, EventRecorder &recorder, EventQueue &queue, EventPump &pump, const QString &dataDir, QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_dataDir(dataDir)
    , m_list(new ImportListModel(this))
    , m_import(common.database, common.clock)
    , m_recorder(recorder, common.prompt)
    , m_export(new SerialExport(this))
    , m_defaultChooser(std::make_unique<FileDialogChooser>(this)) {
    setObjectName(QStringLiteral("Form_Importar_Eventos"));
    setWindowTitle(kCaption);
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    resize(900, 520);
    m_chooser = m_defaultChooser.get();
    m_recorder.setLiveQueue(&queue, &pump);

    auto *group = named(new QGroupBox(QStringLiteral(" Usar Data/Hora ")), "RadioGroup1");
    m_current = named(new QRadioButton(QStringLiteral("Atual")), "currentTime");
    m_fromFile = named(new QRadioButton(QStringLiteral("Do arquivo")), "fileTime");
    m_current->setChecked(true);
    auto *radios = new QHBoxLayout(group);
    radios->addWidget(m_current);
    radios->addWidget(m_fromFile);

    m_button1 = button("Button1", QStringLiteral("Importar Eventos"));
    m_button2 = button("Button2", QStringLiteral("Gravar no Banco de dados"));
    m_button3 = button("Button3", QStringLiteral("Exportar pela porta serial"));
    connect(m_button1, &QPushButton::clicked, this, &Form_Importar_Eventos::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &Form_Importar_Eventos::Button2Click);
    connect(m_button3, &QPushButton::clicked, this, &Form_Importar_Eventos::Button3Click);

    m_gauge = named(new QProgressBar, "G_Progresso");
    m_label = named(new QLabel, "Label1");
    m_grid = named(new QTableView, "Grid_Eventos_Importados");
    m_grid->setModel(m_list);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->horizontalHeader()->setSectionsClickable(true);
    // Whole names, descriptions and times; the check box shares the account's column.
    fitColumns(m_grid, {digits(10), capitals(40), capitals(60), dateTimeSample(), digits(4),
                        digits(3), digits(3), capitals(16), QStringLiteral("RESTAURAÇÃO"),
                        digits(22), capitals(60)});
    connect(m_grid->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == ImportListModel::Conta) m_list->invertChecks();
    });

    auto *top = new QHBoxLayout;
    top->addWidget(group);
    top->addWidget(m_button1);
    top->addWidget(m_button2);
    top->addWidget(m_button3);
    top->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_gauge);
    layout->addWidget(m_label);
    layout->addWidget(m_grid, 1);

    connect(&m_import, &EventImport::progress, this, &Form_Importar_Eventos::showProgress);
    connect(&m_import, &EventImport::rowsListed, this, [this](const QList<ImportRow> &rows) {
        m_list->append(rows);
        showCount();
    });
    connect(&m_import, &EventImport::finished, this, &Form_Importar_Eventos::importFinished);
    connect(&m_recorder, &ImportRecorder::progress, this, &Form_Importar_Eventos::showProgress);
    connect(&m_recorder, &ImportRecorder::finished, this, &Form_Importar_Eventos::recordFinished);
    connect(m_export, &SerialExport::progress, this, &Form_Importar_Eventos::showProgress);
    connect(m_export, &SerialExport::finished, this, &Form_Importar_Eventos::exportFinished);
}

Form_Importar_Eventos::~Form_Importar_Eventos() {
    m_import.cancel();
    m_recorder.cancel();
}

bool Form_Importar_Eventos::busy() const {
    return m_import.running() || m_recorder.running() || m_export->running();
}

void Form_Importar_Eventos::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    if (busy()) return;
    m_gauge->hide();
    m_label->hide();
    m_list->clear();
}

// Leaving the window stops what is in progress between two of its steps: a batch of the
// recording is either committed whole or not at all, and the operator is told how far it got.
void Form_Importar_Eventos::stopWork() {
    m_import.cancel();
    m_recorder.cancel();
    if (m_export->running()) m_export->close();
    setBusy(false);
}

void Form_Importar_Eventos::closeEvent(QCloseEvent *e) {
    stopWork();
    QDialog::closeEvent(e);
}

void Form_Importar_Eventos::reject() {
    stopWork();
    QDialog::reject();
}

void Form_Importar_Eventos::warn(const QString &text) {
    if (m_common.prompt && !text.isEmpty())
        m_common.prompt->message(text, kCaption, Prompt::Icon::Warning);
}

void Form_Importar_Eventos::setBusy(bool busy) {
    m_button1->setEnabled(!busy);
    m_button2->setEnabled(!busy);
    m_button3->setEnabled(!busy);
    m_current->setEnabled(!busy);
    m_fromFile->setEnabled(!busy);
    if (!busy) emit idle();
}

void Form_Importar_Eventos::setGaugeDone(bool done) {
    m_gauge->setStyleSheet(done ? QStringLiteral("QProgressBar::chunk { background-color: blue; }")
                                : QString());
}

void Form_Importar_Eventos::showProgress(int done, int total) {
    m_gauge->setMaximum(std::max(total, 1));
    m_gauge->setValue(std::min(done, std::max(total, 1)));
}

void Form_Importar_Eventos::showCount() {
    m_label->setText(QStringLiteral("Número de Eventos Importados = ") +
                     QString::number(m_list->rowCount()));
    m_label->show();
}

void Form_Importar_Eventos::Button1Click() {
    if (busy()) return;
    QString file =
        m_chooser->openFile(kCaption, QFileInfo(m_fileName).absolutePath(),
                            QStringLiteral("Arquivos de Eventos (*.ORB *.TVL *.orb *.tvl)"));
    if (file.isEmpty()) return;
    // The default extension, for a name typed without one.
    if (!QFileInfo::exists(file) && QFileInfo(file).suffix().isEmpty())
        file += QStringLiteral(".ORB");
    ProcessaArquivo(file);
}

void Form_Importar_Eventos::ProcessaArquivo(const QString &fileName) {
    m_fileName = fileName;
    m_list->clear();
    setGaugeDone(false);
    m_gauge->setValue(0);
    m_gauge->show();
    showCount();
    setBusy(true);
    m_import.ProcessaArquivo(fileName, m_fromFile->isChecked() ? EventImport::TimeSource::FromFile
                                                               : EventImport::TimeSource::Current);
}

void Form_Importar_Eventos::importFinished(const ImportSummary &summary) {
    setGaugeDone(true);
    showCount();
    setBusy(false);
    warn(summary.message());
}

void Form_Importar_Eventos::Button2Click() {
    if (busy()) return;
    QStringList lines;
    m_recordedRows = m_list->checkedRows();
    for (int i : std::as_const(m_recordedRows))
        lines << m_list->row(i).string2;
    if (lines.isEmpty()) {
        warn(QStringLiteral("Nenhum evento marcado para gravar."));
        return;
    }
    setGaugeDone(false);
    m_gauge->show();
    setBusy(true);
    m_recorder.start(lines);
}

void Form_Importar_Eventos::recordFinished(const ImportRecordSummary &summary) {
    setBusy(false);
    if (summary.stored > 0 || summary.total > 0)
        audit::writeAlone(
            m_common.database.primary(),
            {QString::fromUtf8(audit::kImport),
             QStringLiteral("%1 de %2 eventos gravados de \"%3\"%4")
                 .arg(summary.stored)
                 .arg(summary.total)
                 .arg(QFileInfo(m_fileName).fileName(),
                      summary.cancelled ? QStringLiteral(" (cancelada)") : QString()),
             QString(), QString(),
             summary.rejected.isEmpty()
                 ? QString()
                 : QStringLiteral("RECUSADOS=%1").arg(summary.rejected.size())});
    warn(summary.message());
    if (summary.heldBack.isEmpty() && !summary.cancelled && isVisible() && !m_fileName.isEmpty()) {
        // What is still missing from the database, read again from the file.
        ProcessaArquivo(m_fileName);
        return;
    }
    // Stopped part way: the stored events leave the list, so none is recorded twice; the
    // database is not asked again while it is in trouble.
    QList<int> stored;
    for (int i : summary.storedLines)
        stored << m_recordedRows.value(i, -1);
    m_list->removeRowsAt(stored);
    showCount();
}

void Form_Importar_Eventos::Button3Click() {
    if (busy()) return;
    QList<QByteArray> frames;
    for (int i : m_list->checkedRows())
        frames << m_list->row(i).string1.toLatin1();
    if (frames.isEmpty()) {
        warn(QStringLiteral("Nenhum evento marcado para exportar."));
        return;
    }
    m_export->close();
    SerialPortDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString device = serialDeviceFor(DM1::portName(dialog.portaCom()),
                                           m_dataDir + QStringLiteral("/Config.ini"));
    QString error;
    if (!m_export->open(device, DM1::speed(dialog.baudsCom()), &error)) {
        warn(error);
        return;
    }
    setGaugeDone(false);
    m_gauge->show();
    setBusy(true);
    m_export->start(frames);
}

void Form_Importar_Eventos::exportFinished(bool ok, const QString &error) {
    m_export->close();
    setGaugeDone(ok);
    setBusy(false);
    if (!ok) warn(error);
}

} // namespace tulmo
