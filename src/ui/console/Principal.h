#pragma once

#include "console/ConsoleCore.h"
#include "operators/Permissions.h"

#include <QLabel>
#include <QMainWindow>

class QAction;
class QFrame;
class QPlainTextEdit;
class QTabWidget;
class QTableView;

namespace tulmo {

class Form_Configuracoes;
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
    ImageButton(QFrame *painel, const QIcon &icone, const QString &dica);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    QFrame *m_painel;
};

// The main window: the live views of the central station in five pages, the toolbar and the
// menu, the sound indicator, the status bar, and the supervision alerts.
class Form_Principal : public QMainWindow, public SupervisionAlerts {
    Q_OBJECT
public:
    // sons may be null (no indicator pictures then).
    Form_Principal(ConsoleCore &core, SoundState *sons, QWidget *parent = nullptr);
    ~Form_Principal() override;

    static QString caption() { return QStringLiteral("Tulmo V.4.30"); }

    // First display: the receivers open, the one-second timers start.
    void FormShow();

    void Exit1Click();
    void Som_LigadoClick();
    void Som_DesligadoClick();
    void Grid_ConectadosDblClick();
    void Memo1DblClick();
    // "&Configurações" and its toolbar picture: the settings dialog, modally.
    void ConfiguracoesClick();
    Form_Configuracoes &configuracoes() { return *m_configuracoes; }
    // Status bar: last accepted connection, connection count, time.
    void atualizarStatus();

    void reabrirEventosRecebidos();
    void reabrirDesarmados();
    void reabrirRearme();
    void reabrirSemComunicacao();

    SqlListModel &eventosRecebidos() { return *m_eventos; }
    SqlListModel &desarmados() { return *m_desarmados; }
    SqlListModel &rearme() { return *m_rearme; }
    SqlListModel &semComunicacao() { return *m_semComunicacao; }

    void alertaRearme(const QString &mensagem) override;
    void alertaInativo(const QString &mensagem) override;

    // The pending events, the shift dialog and the operator form, created once with the window.
    Form_Eventos_Pendentes &formEventosPendentes() { return *m_formPendentes; }
    Form_iniciar_turno &formIniciarTurno() { return *m_formTurno; }
    FormCadastroOperadores &formCadastroOperadores() { return *m_formOperadores; }
    // Shift dialog, modal ("&Troca de Turno", start-up, exit without the right to close).
    void iniciarTurno();
    // Pending events, modeless ("&Pendentes" and its picture).
    void abrirPendentes();

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
    void sairSolicitado();

protected:
    void closeEvent(QCloseEvent *e) override;
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    // A command granted by a permission bit: its toolbar panel and its menu command.
    struct PermissionCommand {
        quint32 bit;
        QFrame *painel = nullptr;
        QAction *menu = nullptr;
    };
    PermissionCommand &comando(quint32 bit);

    void criarMenu();
    void criarBotoes(QWidget *pai);
    void criarPaginas();
    QTableView *gradeConta(const QString &nome, SqlListModel *modelo, const QColor &base);
    void mostrarIndicador(bool ligado);
    void paginaMostrada(int indice);
    void criarJanelasTurno();

    ConsoleCore &m_core;
    SoundState *m_sons;
    bool m_mostrado = false;

    SqlListModel *m_eventos = nullptr;
    SqlListModel *m_desarmados = nullptr;
    SqlListModel *m_rearme = nullptr;
    SqlListModel *m_semComunicacao = nullptr;

    QTabWidget *m_paginas = nullptr;
    QTableView *m_gridConectados = nullptr;
    QPlainTextEdit *m_memo1 = nullptr;
    QLabel *m_somLigado = nullptr;
    QLabel *m_somDesligado = nullptr;
    QLabel *m_painel[3] = {};
    QAction *m_pendentes = nullptr;
    QAction *m_operadores = nullptr;
    QAction *m_trocaTurno = nullptr;
    ImageButton *m_imgPendentes = nullptr;
    QWidget *m_paginaRearme = nullptr;
    QWidget *m_paginaSemComunicacao = nullptr;
    PermissionCommand m_comandos[5] = {{Permissions::Clientes},
                                       {Permissions::Eventos},
                                       {Permissions::TcpIp},
                                       {Permissions::Relatorios},
                                       {Permissions::Configuracoes}};
    Form_Eventos_Pendentes *m_formPendentes = nullptr;
    Form_iniciar_turno *m_formTurno = nullptr;
    FormCadastroOperadores *m_formOperadores = nullptr;
    Form_Configuracoes *m_configuracoes = nullptr;
};

} // namespace tulmo
