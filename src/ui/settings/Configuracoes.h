#pragma once

#include "core/console/CommonServices.h"
#include "core/settings/ReceiverTable.h"

#include <QDialog>
#include <QIcon>
#include <QStringList>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFormLayout;
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

class DM1;
class Dc09Keys;
class ReceptionControl;
class SoundOutput;
class FileChooser;
class LiveSettings;
class PortMonitorView;

// The settings dialog: the receivers of the RECEIVER table on one side of the tree, the
// options of Config.ini on the other. Its option controls are the live settings: every edit
// reaches the console at once, and "Aplicar" makes it last.
class Form_Configuracoes : public QDialog {
    Q_OBJECT
public:
    Form_Configuracoes(CommonServices common, LiveSettings &settings, DM1 &dm,
                       ReceptionControl &reception, Dc09Keys &keys, SoundOutput *sound,
                       QString dataDir, QWidget *parent = nullptr);
    ~Form_Configuracoes() override;

    // The rearm-sound chooser's file dialog; the desktop's own when none is set.
    void setFileChooser(FileChooser *chooser) { m_chooser = chooser; }

    // What opening does before the dialog shows: the tree from the RECEIVER table and the
    // receiver panel in front.
    void prepareOpen();
    // Prepares and shows the dialog modally.
    int openDialog();

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
    // The DC-09 keys of the accounts, in their own small dialog (modal to this one).
    void Botao_Chaves_DC09Click();
    // The option controls shown again from the live settings.
    void showSettings();

    QTreeWidgetItem *receiverRoot() const { return m_receiverRoot; }
    QTreeWidgetItem *optionsRoot() const { return m_optionsRoot; }
    // The icon of a receiver node in each mode (0 serial, 1 TCP/IP, 2 UDP/IP).
    QIcon modeIcon(int modo) const;
    // The context menu of the tree, and the receiver number the record panel shows.
    QMenu *menuTree() const { return m_menu; }
    int receiverNumber() const { return m_number; }

protected:
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    QWidget *createReceiverPanel();
    QWidget *createCommunicationPanel();
    QWidget *createOptionsPanel();
    void bindOptions();
    void fillTree();
    void showRecord(QTreeWidgetItem *item);
    void enableApply();
    void TreeView1ContextMenu(const QPoint &pos);
    void receiverNotFound(int slot);
    void receiverRefused(int slot, const QString &why);
    void valueRefused(const QString &typed, const QString &reason);
    // The port monitor's filter offers the receivers of the tree.
    void updateMonitorReceivers();
    // Why record r cannot be written over the shown receiver: a port another active receiver
    // uses; empty when none.
    QString portConflict(const ReceiverConfig &r) const;
    bool isReceiver(const QTreeWidgetItem *item) const;
    int position(const QTreeWidgetItem *item) const;
    void showMode(QTreeWidgetItem *item, int modo);
    // The keep-alive time serves TCP devices and DC-09 senders over UDP alike: its row goes
    // to the group of the mode shown.
    void placeKeepAlive(int modo);

    CommonServices m_common;
    DM1 &m_dm;
    ReceptionControl &m_reception;
    Dc09Keys &m_keys;
    SoundOutput *m_sound;
    QString m_dataDir;
    LiveSettings &m_settings;
    ReceiverTable m_table;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
    QIcon m_icons[3];
    bool m_loading = false;
    int m_number = 0;

    QTreeWidget *m_tree = nullptr;
    QTreeWidgetItem *m_receiverRoot = nullptr;
    QTreeWidgetItem *m_optionsRoot = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_menuItem = nullptr;
    QStackedWidget *m_panels = nullptr;
    QWidget *m_receiverPanel = nullptr;
    QWidget *m_communicationPanel = nullptr;
    QWidget *m_optionsPanel = nullptr;

    // Receiver record
    QLabel *m_receiverNumber = nullptr;
    QLineEdit *m_name = nullptr;
    QComboBox *m_mode = nullptr;
    QCheckBox *m_active = nullptr;
    QCheckBox *m_sendsSms = nullptr;
    QComboBox *m_serial = nullptr;
    QComboBox *m_bauds = nullptr;
    QComboBox *m_output = nullptr;      // an IP receiver's event output (PORTA_COM)
    QComboBox *m_outputBauds = nullptr; // its speed: the same BAUDS_COM as m_bauds
    QSpinBox *m_tcpPort = nullptr;
    QSpinBox *m_udpPort = nullptr;
    QSpinBox *m_replyTime = nullptr;
    QSpinBox *m_keepAliveTime = nullptr;
    QWidget *m_keepAliveRow = nullptr;
    QFormLayout *m_tcpForm = nullptr;
    QFormLayout *m_udpForm = nullptr;
    QStackedWidget *m_groups = nullptr;
    QPushButton *m_remove = nullptr;
    QPlainTextEdit *m_portMonitor = nullptr;
    PortMonitorView *m_monitorView = nullptr;
    QSpinBox *m_retryInterval = nullptr;
    QSpinBox *m_attempts = nullptr;

    // Options
    QButtonGroup *m_clockSource = nullptr;
    QLineEdit *m_rearmSound = nullptr;
    QLineEdit *m_companyName = nullptr;
    QLineEdit *m_mailSenderName = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_mailAddress = nullptr;
    QLineEdit *m_carbonCopy = nullptr;
    QLineEdit *m_smtp = nullptr;
    QLineEdit *m_mailPort = nullptr;
    QPlainTextEdit *m_mailBody = nullptr;
    QCheckBox *m_defaultMailClient = nullptr;

    QPushButton *m_apply = nullptr;
    bool m_refusedByApply = false; // a receiver was refused by the apply under way
    bool m_applying = false;
    QStringList m_refusals; // receivers refused by the apply under way, said at its end
};

} // namespace tulmo
