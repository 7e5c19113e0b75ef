#pragma once

#include "core/console/ConsoleServices.h"
#include "core/console/SupervisionAlerts.h"
#include "core/operators/Permissions.h"

#include <QLabel>
#include <QMainWindow>

class QAction;
class QFont;
class QFrame;
class QPlainTextEdit;
class QTabWidget;
class QTableView;

namespace tulmo {

class ConnectedDevicesView;
class Form_Apagar_eventos;
class Form_Contas_Disparo;
class Form_Acesso_GPRS;
class Form_Configuracoes;
class Form_QVN12;
class ModuleExchange;
class F_Selecao_Clientes;
class Form_Cadastro_GPRS;
class Form_Importar_Eventos;
class Form_Eventos_Padrao;
class Prompt;
class SoundState;
class SqlListModel;
class Form_Eventos_Pendentes;
class Form_iniciar_turno;
class FormCadastroOperadores;

// A picture of the toolbar that acts as a button: pressing lowers its panel, releasing raises
// it again and runs the action, wherever the pointer is then.
class ImageButton : public QLabel {
    Q_OBJECT
public:
    ImageButton(QFrame *panel, const QIcon &iconImage, const QString &hint);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    QFrame *m_panel;
};

// The main window: the live views of the central station in five pages, the toolbar and the
// menu, the sound indicator, the status bar, and the supervision alerts.
class Form_Principal : public QMainWindow, public SupervisionAlerts {
    Q_OBJECT
public:
    // sons may be null (no indicator pictures then).
    Form_Principal(ConsoleServices services, SoundState *sons, QWidget *parent = nullptr);
    ~Form_Principal() override;

    // Shows the console in front, restoring it when minimised (a maximised window stays so).
    void bringForward();
    // The status bar's count of events waiting for an intervention, read again.
    void updatePendingCount();

    static QString caption() { return QStringLiteral("Tulmo V.4.30"); }

    // First display: the pending events come forward when some wait. (Reception does not
    // wait for a window: it starts with the core, ConsoleCore::startReception.)
    void FormShow();

    void Exit1Click();
    void Som_LigadoClick();
    void Som_DesligadoClick();
    void Grid_ConectadosDblClick();
    void Memo1DblClick();
    // "&Relatorios" and its toolbar picture: a new report window, modally.
    void openReports();
    void showTests();
    void openAudit();
    void openAnswerTimes();
    void showRunaway();
    // "&Configurações" and its toolbar picture: the settings dialog, modally.
    void ConfiguracoesClick();
    Form_Configuracoes &settingsDialog() { return *m_settingsDialog; }
    // Status bar: last accepted connection, connection count, time.
    void updateStatus();

    void reopenReceived();
    void reopenDisarmed();
    void reopenRearm();
    void reopenSilent();

    SqlListModel &receivedEvents() { return *m_events; }
    SqlListModel &desarmados() { return *m_disarmed; }
    SqlListModel &rearme() { return *m_rearm; }
    SqlListModel &silent() { return *m_silent; }

    void rearmAlert(const QString &messageText) override;
    void inactivityAlert(const QString &messageText) override;

    // The pending events, the shift dialog and the operator form, created once with the window.
    Form_Eventos_Pendentes &pendingForm() { return *m_pendingForm; }
    Form_iniciar_turno &shiftForm() { return *m_shiftForm; }
    FormCadastroOperadores &operatorsForm() { return *m_operatorsForm; }
    // The operator on shift, whose name goes with what he records.
    QString operatorName() const;
    // On a workstation that does not receive: the operator is told which one holds the
    // devices (true), for what needs their connections.
    bool tellWhereDevicesAre();
    // The registry windows, created once with the window and opened by their commands.
    F_Selecao_Clientes &accountBrowser() { return *m_accountBrowser; }
    Form_Eventos_Padrao &eventCodesForm() { return *m_eventCodesForm; }
    Form_Cadastro_GPRS &gprsForm() { return *m_gprsForm; }
    // "&Apagar Eventos", created once with the window.
    Form_Apagar_eventos &purgeForm() { return *m_purgeForm; }
    // The remote access console that Grid_Conectados opens, its exchange and its editor.
    Form_Acesso_GPRS &accessForm() { return *m_accessForm; }
    ModuleExchange &moduleExchange() { return *m_moduleExchange; }
    Form_QVN12 &qvn12Form() { return *m_qvn12Form; }
    // "&Importar": the receiver file import, modal.
    Form_Importar_Eventos &importForm() { return *m_importForm; }
    // Shift dialog, modal ("&Troca de Turno", start-up, exit without the right to close).
    void startShift();
    // Pending events, modeless ("&Pendentes" and its picture): the operator asked for it, so
    // it takes the keyboard.
    void showPending();
    // Events were deleted (an account, a purge): the lists and the count that show them read
    // again.
    void eventsRemoved();

    // The shift's permission bits: each command's toolbar panel is enabled by its bit.
    void applyPermissions(quint32 bits);
    // Each menu command takes the state of its panel, as the shift dialog closes.
    void menusFollowPanels();
    // "&Operadores": only the administrator's shift opens the operator form.
    void setOperatorFormEnabled(bool enabled);
    // "&Pendentes": enabled while events wait for an operator.
    void setPendingCommandEnabled(bool enabled);

signals:
    // The operator confirmed leaving the console.
    void exitRequested();

protected:
    void closeEvent(QCloseEvent *e) override;
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:

    void sizeConnectedColumns(const QFont &font);

    // A command granted by a permission bit: its toolbar panel and its menu command.
    struct PermissionCommand {
        quint32 bit;
        QFrame *panel = nullptr;
        QAction *menu = nullptr;
    };
    PermissionCommand &command(quint32 bit);

    void createMenu();
    void createButtons(QWidget *owner);
    void createPages();
    QTableView *accountGrid(const QString &nome, SqlListModel *model, const QColor &base);
    void showIndicator(bool soundOn);
    void pageShown(int connectionIndex);
    void createShiftWindows();
    void createRegistryWindows();
    void createPurgeWindow();
    void createModuleWindows();
    void openAccountForm(const QString &conta, bool onSchedule, QWidget *over = nullptr);

    ConsoleServices m_s;
    SoundState *m_sounds;
    QString m_alarmBeforeSilence; // the event's alarm the first of them interrupted
    bool m_shown = false;

    SqlListModel *m_events = nullptr;
    SqlListModel *m_disarmed = nullptr;
    SqlListModel *m_rearm = nullptr;
    SqlListModel *m_silent = nullptr;

    QTabWidget *m_pages = nullptr;
    QTableView *m_connectedGrid = nullptr;
    ConnectedDevicesView *m_connectedView = nullptr;
    QLabel *m_pendingCount = nullptr;
    QPlainTextEdit *m_memo1 = nullptr;
    QLabel *m_soundOnPicture = nullptr;
    QLabel *m_soundOffPicture = nullptr;
    QLabel *m_panel[3] = {};
    QAction *m_pendingList = nullptr;
    QAction *m_operatorsAction = nullptr;
    QAction *m_shiftChangeAction = nullptr;
    ImageButton *m_pendingImage = nullptr;
    QWidget *m_rearmPage = nullptr;
    QWidget *m_silentPage = nullptr;
    PermissionCommand m_commands[5] = {{Permissions::Clientes},
                                       {Permissions::Eventos},
                                       {Permissions::TcpIp},
                                       {Permissions::Relatorios},
                                       {Permissions::Configuracoes}};
    Form_Eventos_Pendentes *m_pendingForm = nullptr;
    Form_iniciar_turno *m_shiftForm = nullptr;
    FormCadastroOperadores *m_operatorsForm = nullptr;
    Form_Configuracoes *m_settingsDialog = nullptr;
    F_Selecao_Clientes *m_accountBrowser = nullptr;
    Form_Eventos_Padrao *m_eventCodesForm = nullptr;
    Form_Cadastro_GPRS *m_gprsForm = nullptr;
    Form_Importar_Eventos *m_importForm = nullptr;
    QAction *m_importAction = nullptr;
    ImageButton *m_registryImage[3] = {}; // accounts, event codes, GPRS
    Form_Apagar_eventos *m_purgeForm = nullptr;
    QAction *m_purgeAction = nullptr; // granted with the reports
    QAction *m_auditAction = nullptr;
    class Form_Contas_Teste *m_testsForm = nullptr;
    class StormControl *m_storm = nullptr;
    QAction *m_answerTimesAction = nullptr; // likewise
    Form_Contas_Disparo *m_runawayForm = nullptr;
    ModuleExchange *m_moduleExchange = nullptr;
    Form_Acesso_GPRS *m_accessForm = nullptr;
    QString m_accessImei; // the module the remote access console was opened for
    Form_QVN12 *m_qvn12Form = nullptr;
};

} // namespace tulmo
