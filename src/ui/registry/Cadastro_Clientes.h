#pragma once

#include "core/console/CommonServices.h"
#include "core/registry/AccountRecordRepository.h"

#include <QDialog>
#include <QSet>

#include <memory>
#include <vector>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tulmo {

class DigitsOnly;
class FileChooser;
class ScheduleGrid;
class SubRecordGrid;
class SubRecordModel;

// "Cadastro de Clientes": one monitored account with its photos, users, zones,
// partitions and weekly arming schedule. Created for each use and freed when it closes; modal
// to the main window only, so the pending-events window stays usable while it is open.
//
// Opening (the callers' whole interface):
//     auto *f = Form_Cadastro_Clientes::create(services, mainWindow);
//     QObject::connect(f, &Form_Cadastro_Clientes::accountSaved, …);  // reopen the lists
//     f->openAccount(conta, Form_Cadastro_Clientes::Page::Horarios);   // or f->openNew()
// Both return at once; finished() follows when it closes, however it closes.
class Form_Cadastro_Clientes : public QDialog {
    Q_OBJECT
public:
    // The pages of PC_Clientes, in order.
    enum class Page { Basico, Imagens, Usuarios, Zonas, Particoes, Horarios };

    explicit Form_Cadastro_Clientes(CommonServices common, QWidget *parent = nullptr);
    ~Form_Cadastro_Clientes() override;

    // A form that frees itself once closed.
    static Form_Cadastro_Clientes *create(CommonServices common, QWidget *parent);

    // Insertion (mode 'I'): prepareNew, then shown modal to its parent window.
    void openNew();
    // Alteration (mode 'A') of conta with page in front: prepareAccount, then shown.
    void openAccount(const QString &conta, Page page = Page::Basico);
    // The activation of each mode without showing. False when it was aborted: the new number
    // could not be found (the operator was told), or the account could not be read.
    bool prepareNew();
    bool prepareAccount(const QString &conta, Page page = Page::Basico);

    // The photo chooser's file dialog; the desktop's own when none is set.
    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }

    // 'I' insertion, 'A' alteration, 0 before opening.
    char modo() const { return m_mode; }
    // The account the form works on: the one altered, or the number in ME_Conta padded.
    QString accountNumber() const;
    Page currentPage() const;
    // Makes page the visible one, running what showing it does.
    void showPage(Page page);

    // Leaving ME_Conta (mode 'I'): the number padded, refused when it exists. True when it
    // may be used.
    bool ME_ContaExit();
    // ME_Conta entered in mode 'A'.
    void ME_ContaEnter();
    void Speed_SalvarClick();
    void Speed_CancelarClick();
    // Photo n (1 or 2): "Selecionar" and "Limpar".
    void selectPhotoClick(int n);
    void clearPhotoClick(int n);
    // Schedule page.
    void TS_HorariosShow();
    void Botao_MarcarClick();
    void Botao_DesmarcarClick();
    void Botao_Carregar_PadraoClick();
    void Botao_GravarClick();
    void Botao_DesfazerClick();

    ScheduleGrid &scheduleGrid() const { return *m_scheduleGrid; }
    SubRecordModel &usuarios() const { return *m_usuarios; }
    SubRecordModel &zonas() const { return *m_zonas; }
    SubRecordModel &particoes() const { return *m_particoes; }

signals:
    // SALVAR wrote the account (inserted or altered): the lists that show it read again, and a
    // new account is supervised from now on.
    void accountSaved(const QString &conta, bool inserted);

public:
    void done(int r) override;

protected:
    bool eventFilter(QObject *o, QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    QWidget *createBasicPage();
    QLayout *createNotesAndMonitoring();
    QLineEdit *textField(const char *nome, int maxLength, QString AccountRecord::*field,
                         bool digits = false);
    QLineEdit *maskedField(const char *nome, const char *mask, QString AccountRecord::*field);
    QLineEdit *numericField(const char *nome, int maxLength, QString AccountRecord::*field);
    QWidget *createPhotosPage();
    QWidget *createRecordsPage(SubRecordModel *model, const char *gridName);
    QWidget *createSchedulePage();
    void pageShown(int index);
    void showRecords(SubRecordModel &model);
    void clearFields();
    void fill(const AccountRecord &r);
    AccountRecord record() const;
    void loadPhoto(int n);
    bool isImage(const QString &path) const;
    bool writeSchedule();
    void cancelRecords();
    bool postRecords();
    void discardUnsaved();
    void error(const QString &what, const QString &reason);

    // A field of the basic page and the CLIENTES column it holds; masked fields give their
    // digits only.
    struct BoundField {
        QLineEdit *edit;
        QString AccountRecord::*field;
        bool digits;
    };

    CommonServices m_common;
    std::vector<BoundField> m_fields;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
    DigitsOnly *m_digits = nullptr;
    char m_mode = 0;
    QString m_conta; // mode 'A'
    bool m_checkingConta = false;
    // The numbers the sub-records and the schedule were keyed by while the account was new.
    QSet<QString> m_unsavedNumbers;

    QTabWidget *m_pages = nullptr;
    QLineEdit *m_contaEdit = nullptr; // ME_Conta
    QLineEdit *m_nome = nullptr;
    QLineEdit *m_dataCadastro = nullptr;
    QLineEdit *m_id = nullptr;
    QLineEdit *m_tempoInativo = nullptr;
    QPlainTextEdit *m_obs = nullptr;
    QLineEdit *m_photoPath[2] = {};
    QLabel *m_photo[2] = {};
    SubRecordModel *m_usuarios = nullptr;
    SubRecordModel *m_zonas = nullptr;
    SubRecordModel *m_particoes = nullptr;
    ScheduleGrid *m_scheduleGrid = nullptr;
    QProgressBar *m_gauge = nullptr;
    QRadioButton *m_patterns[3] = {};
};

} // namespace tulmo
