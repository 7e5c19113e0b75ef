#include "ui/console/StormControl.h"

#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/events/StationModes.h"
#include "core/operators/CurrentOperator.h"
#include "core/store/Database.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

namespace tulmo {

namespace {
const QString kTitle = QStringLiteral("Modo Tempestade");
}

StormControl::StormControl(CommonServices common, const CurrentOperator &current, QMenuBar *menu,
                           QStatusBar *bar, QObject *parent)
    : QObject(parent)
    , m_common(common)
    , m_current(current) {
    m_action = menu->addAction(QStringLiteral("Modo Tempes&tade"));
    m_action->setObjectName(QStringLiteral("ModoTempestade1"));
    m_action->setCheckable(true);
    connect(m_action, &QAction::triggered, this, &StormControl::toggle);
    m_panel = new QLabel;
    m_panel->setObjectName(QStringLiteral("Lbl_Tempestade"));
    m_panel->setStyleSheet(QStringLiteral("QLabel { background: #C00000; color: white; "
                                          "font-weight: bold; padding: 0 6px; }"));
    m_panel->hide();
    bar->addPermanentWidget(m_panel);
    m_timer = new QTimer(this);
    m_timer->setInterval(kReadEveryMs);
    connect(m_timer, &QTimer::timeout, this, &StormControl::refresh);
    m_timer->start();
    refresh();
}

void StormControl::refresh() {
    const std::optional<stationModes::Storm> s = stationModes::storm(m_common.database.primary());
    if (!s) return; // shown as it was until the database answers
    const QSignalBlocker quiet(m_action);
    m_action->setChecked(s->active);
    // A command of the menu bar shows no check mark: its name says what it does.
    m_action->setText(s->active ? QStringLiteral("Encerrar Tempes&tade")
                                : QStringLiteral("Modo Tempes&tade"));
    m_panel->setVisible(s->active);
    m_panel->setText(QStringLiteral("MODO TEMPESTADE desde %1 (%2)")
                         .arg(s->desde.toString(QStringLiteral("dd/MM HH:mm")), s->operador));
}

bool StormControl::toggle(bool on) {
    Prompt *p = m_common.prompt;
    auto done = [this](bool changed) {
        refresh();
        return changed;
    };
    if (!m_current.can(Permissions::Configuracoes)) {
        if (p)
            p->message(QStringLiteral("O operador não tem permissão para declarar ou encerrar o "
                                      "modo tempestade."),
                       kTitle, Prompt::Icon::Warning);
        return done(false);
    }
    const QString ask =
        on ? QStringLiteral("Declarar o modo tempestade?\n\nFalhas, faltas de energia, "
                            "restaurações e testes periódicos serão gravados sem ir para os "
                            "pendentes e sem som. Alarmes, emergências e pânicos continuam "
                            "aparecendo normalmente.")
           : QStringLiteral("Encerrar o modo tempestade?\n\nTodos os eventos voltam a aparecer "
                            "normalmente.");
    if (p && !p->question(ask, kTitle)) return done(false);
    QString error;
    if (!stationModes::setStorm(m_common.database.primary(), on, m_common.clock.now(),
                                m_current.nome, &error)) {
        if (p)
            p->message(QStringLiteral("Não foi possível gravar o modo tempestade: ") + error,
                       QStringLiteral("ERRO"), Prompt::Icon::Error);
        return done(false);
    }
    return done(true);
}

} // namespace tulmo
