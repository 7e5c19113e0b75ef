#pragma once

#include "core/console/CommonServices.h"
#include "core/import/EventImport.h"
#include "core/import/ImportRecorder.h"

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableView;

namespace tulmo {

class EventRecorder;
class EventQueue;
class EventPump;

class FileChooser;
class ImportListModel;
class SerialExport;
class SerialPortDialog;

// "Importar Eventos": lists the events of a receiver's event file that the database does not
// hold yet, records the checked ones as the console records live events, or sends them out of
// a serial port as receiver frames. The file is read, and the events recorded, in short steps
// so that reception and the live recording go on meanwhile.
class Form_Importar_Eventos : public QDialog {
    Q_OBJECT
public:
    explicit Form_Importar_Eventos(CommonServices common, EventRecorder &recorder, EventQueue &queue, EventPump &pump, const QString &dataDir, QWidget *parent = nullptr);
    ~Form_Importar_Eventos() override;

    // The file dialog; the desktop's own when none is set.
    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }

    void Button1Click(); // "Importar Eventos"
    void Button2Click(); // "Gravar no Banco de dados"
    void Button3Click(); // "Exportar pela porta serial"

    ImportListModel &list() { return *m_list; }
    EventImport &importer() { return m_import; }
    ImportRecorder &importRecorder() { return m_recorder; }
    // Whether a reading, a recording or an export is in progress.
    bool busy() const;

signals:
    // The reading, recording or export that was in progress is over.
    void idle();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void reject() override;

private:
    void ProcessaArquivo(const QString &fileName);
    void importFinished(const ImportSummary &summary);
    void recordFinished(const ImportRecordSummary &summary);
    void exportFinished(bool ok, const QString &error);
    void showProgress(int done, int total);
    void showCount();
    void setGaugeDone(bool done);
    void setBusy(bool busy);
    void warn(const QString &text);
    void stopWork();

    CommonServices m_common;
    QString m_dataDir;
    ImportListModel *m_list;
    EventImport m_import;
    ImportRecorder m_recorder;
    SerialExport *m_export;
    std::unique_ptr<FileChooser> m_defaultChooser;
    FileChooser *m_chooser = nullptr;
    QString m_fileName;
    QList<int> m_recordedRows; // the list rows whose lines the recording was given

    QRadioButton *m_current = nullptr;
    QRadioButton *m_fromFile = nullptr;
    QPushButton *m_button1 = nullptr;
    QPushButton *m_button2 = nullptr;
    QPushButton *m_button3 = nullptr;
    QProgressBar *m_gauge = nullptr;
    QLabel *m_label = nullptr;
    QTableView *m_grid = nullptr;
};

} // namespace tulmo
