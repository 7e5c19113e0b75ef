#pragma once

#include "settings/ReceiverTable.h"

#include <QDialog>
#include <QIcon>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tulmo {

class ConsoleCore;
class FileChooser;
class LiveSettings;

// The settings dialog: the receivers of the RECEIVER table on one side of the tree, the
// options of Config.ini on the other. Its option controls are the live settings: every edit
// reaches the console at once, and "Aplicar" makes it last.
class Form_Configuracoes : public QDialog {
    Q_OBJECT
public:
    explicit Form_Configuracoes(ConsoleCore &core, QWidget *parent = nullptr);
    ~Form_Configuracoes() override;

    // The rearm-sound chooser's file dialog; the desktop's own when none is set.
    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }

    // What opening does before the dialog shows: the tree from the RECEIVER table and the
    // receiver panel in front.
    void prepararAbertura();
    // Prepares and shows the dialog modally.
    int abrir();

    void Botao_IncluirClick();
    void Botao_Excluir_ReceiverClick();
    void Botao_AplicarClick();
    void Botao_CancelarClick();
    void Botao_FecharClick();
    void Botao_SomRearmeClick();
    void Porta_VisorDblClick();
    // A node selected by click or keyboard.
    void TreeView1Change(QTreeWidgetItem *item);
    void Combo_Modo_ComunicacaoChange(int modo);
    // The option controls shown again from the live settings.
    void mostrarSettings();

    QTreeWidgetItem *raizReceiver() const { return m_raizReceiver; }
    QTreeWidgetItem *raizOpcoes() const { return m_raizOpcoes; }
    // The icon of a receiver node in each mode (0 serial, 1 TCP/IP, 2 UDP/IP).
    QIcon iconeModo(int modo) const;
    // The context menu of the tree, and the receiver number the record panel shows.
    QMenu *menuTree() const { return m_menu; }
    int numeroReceiver() const { return m_numero; }

protected:
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    QWidget *criarPainelReceiver();
    QWidget *criarPainelSetarComunicacao();
    QWidget *criarPainelOpcoes();
    void ligarOpcoes();
    void preencherArvore();
    void mostrarRegistro(QTreeWidgetItem *item);
    void habilitarAplicar();
    void TreeView1ContextMenu(const QPoint &pos);
    void receptoraNaoEncontrada(int slot);
    bool ehReceiver(const QTreeWidgetItem *item) const;
    int posicao(const QTreeWidgetItem *item) const;
    void mostrarModo(QTreeWidgetItem *item, int modo);

    ConsoleCore &m_core;
    LiveSettings &m_settings;
    ReceiverTable m_tabela;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_chooserPadrao;
    QIcon m_icones[3];
    bool m_carregando = false;
    int m_numero = 0;

    QTreeWidget *m_tree = nullptr;
    QTreeWidgetItem *m_raizReceiver = nullptr;
    QTreeWidgetItem *m_raizOpcoes = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_itemMenu = nullptr;
    QStackedWidget *m_paineis = nullptr;
    QWidget *m_painelReceiver = nullptr;
    QWidget *m_painelSetar = nullptr;
    QWidget *m_painelOpcoes = nullptr;

    // Receiver record
    QLabel *m_numeroReceiver = nullptr;
    QLineEdit *m_nome = nullptr;
    QComboBox *m_modo = nullptr;
    QCheckBox *m_ativo = nullptr;
    QCheckBox *m_enviaSms = nullptr;
    QComboBox *m_serial = nullptr;
    QComboBox *m_bauds = nullptr;
    QSpinBox *m_portaTcp = nullptr;
    QSpinBox *m_portaUdp = nullptr;
    QSpinBox *m_tempoResposta = nullptr;
    QSpinBox *m_tempoKeepAlive = nullptr;
    QStackedWidget *m_grupos = nullptr;
    QPushButton *m_excluir = nullptr;
    QPlainTextEdit *m_portaVisor = nullptr;
    QSpinBox *m_tempoTentativas = nullptr;
    QSpinBox *m_tentativas = nullptr;

    // Options
    QButtonGroup *m_relogio = nullptr;
    QLineEdit *m_somRearme = nullptr;
    QLineEdit *m_nomeEmpresa = nullptr;
    QLineEdit *m_nomeEmail = nullptr;
    QLineEdit *m_usuario = nullptr;
    QLineEdit *m_senha = nullptr;
    QLineEdit *m_enderecoEmail = nullptr;
    QLineEdit *m_copiaCarbono = nullptr;
    QLineEdit *m_smtp = nullptr;
    QLineEdit *m_portaEmail = nullptr;
    QPlainTextEdit *m_corpoEmail = nullptr;
    QCheckBox *m_correioPadrao = nullptr;

    QPushButton *m_aplicar = nullptr;
};

} // namespace tulmo
