#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tulmo {

class FileChooser;
class Form_QVN12;
class ModuleExchange;
class Prompt;
class TcpConnection;

// The remote access console ("Acesso GPRS"): the operator's window on one connected module.
// It reads the module's parameter block as it shows, names the model that answered, opens the
// parameter editor, writes the edited block back, keeps blocks in *.CFG files and restarts
// the module. One console serves the whole program; it follows its ModuleExchange, which
// goes on with a pending exchange after the window is closed.
class Form_Acesso_GPRS : public QDialog {
    Q_OBJECT
public:
    // The window keeps this width; its messages wrap.
    static constexpr int kWidth = 460;

    Form_Acesso_GPRS(ModuleExchange &exchange, Prompt *prompt, QWidget *parent = nullptr);
    ~Form_Acesso_GPRS() override;

    // The parameter editor opened by "Acessar Dados" and "Abrir Arquivo"; its closing hands
    // the block for the next upload, its commands go to the console's device, and that
    // device's channel readings come back to it.
    void setEditor(Form_QVN12 *editor);
    // The file dialogs; the desktop's own when none is set.
    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }

    // Points the console at a device of the connected-devices list: its slot, its connection
    // index as the list shows it, its connection. The hex text is emptied.
    void prepare(int slot, int socketIndex, TcpConnection *socket);
    // prepare, then the console modally; a download starts as it shows.
    void openFor(int slot, int socketIndex, TcpConnection *socket);

    void Button_AcessarClick();
    void Button_EnviarClick();
    void Button_DownloadClick();
    void Button_Salvar_ArquivoClick();
    void Button_Abrir_ArquivoClick();
    void Button_Resetar_EquipamentoClick();

protected:
    void showEvent(QShowEvent *e) override;

signals:
    // The operator asked for an upload or a reset of the module (its audit action).
    void moduleCommand(const QString &acao);

private:
    void followButtons();
    void showInformation(const QString &text);
    void openEditor();

    ModuleExchange &m_exchange;
    Prompt *m_prompt;
    Form_QVN12 *m_editor = nullptr;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
    QLabel *m_socket = nullptr;
    QLabel *m_conexao = nullptr;
    QLabel *m_equipamento = nullptr;
    QLabel *m_informacao = nullptr;
    QPlainTextEdit *m_memo = nullptr;
    QPushButton *m_acessar = nullptr;
    QPushButton *m_enviar = nullptr;
    QPushButton *m_salvar = nullptr;
    QPushButton *m_abrir = nullptr;
    QPushButton *m_resetar = nullptr;
    QPushButton *m_download = nullptr;
};

} // namespace tulmo
