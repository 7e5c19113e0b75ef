#include "ui/console/Contas_Teste.h"

#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/events/StationModes.h"
#include "core/operators/CurrentOperator.h"
#include "core/store/Database.h"
#include "ui/common/KeyboardHabits.h"
#include "ui/common/ListWindow.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tulmo {

namespace {
const QString kTitle = QStringLiteral("Contas em Teste");
QString moment(const QDateTime &t) { return t.toString(QStringLiteral("dd/MM/yyyy HH:mm")); }
QString hours(int minutes) {
    return minutes % 60 == 0 ? QStringLiteral("%1 h").arg(minutes / 60)
                             : QStringLiteral("%1 min").arg(minutes);
}
} // namespace

Form_Contas_Teste::Form_Contas_Teste(CommonServices common, const CurrentOperator &current,
                                     QWidget *parent)
    : QDialog(parent)
    , m_common(common)
    , m_current(current) {
    setObjectName(QStringLiteral("Form_Contas_Teste"));
    setWindowTitle(kTitle);
    resize(700, 420);
    auto *layout = new QVBoxLayout(this);
    auto *rule = new QLabel(QStringLiteral("Os eventos de uma conta em teste (ou das zonas em teste) "
                                           "são gravados e marcados, sem ir para os pendentes, sem "
                                           "som e sem SMS, até o fim do teste."),
                            this);
    rule->setWordWrap(true);
    layout->addWidget(rule);

    auto *form = new QFormLayout;
    m_account = new QLineEdit(this);
    m_account->setObjectName(QStringLiteral("Edit_Conta"));
    m_account->setMaxLength(6);
    m_account->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), m_account));
    m_zones = new QLineEdit(this);
    m_zones->setObjectName(QStringLiteral("Edit_Zonas"));
    m_zones->setPlaceholderText(QStringLiteral("vazio: a conta inteira; ou 1, 2, 5"));
    m_minutes = new QSpinBox(this);
    m_minutes->setObjectName(QStringLiteral("Spin_Minutos"));
    m_minutes->setSuffix(QStringLiteral(" min"));
    m_minutes->setRange(1, stationModes::kLongTestMinutes);
    m_minutes->setValue(60);
    m_limit = new QLabel(this);
    m_limit->setObjectName(QStringLiteral("Lbl_Maximo"));
    form->addRow(QStringLiteral("Conta:"), m_account);
    form->addRow(QStringLiteral("Zonas:"), m_zones);
    form->addRow(QStringLiteral("Duração:"), m_minutes);
    form->addRow(QString(), m_limit);
    layout->addLayout(form);
    m_start = new QPushButton(QStringLiteral("&Colocar em teste"), this);
    m_start->setObjectName(QStringLiteral("btnIniciar"));
    layout->addWidget(m_start, 0, Qt::AlignRight);

    m_grid = readOnlyGrid("Grid_Testes",
                          {QStringLiteral("Conta"), QStringLiteral("Zonas"), QStringLiteral("Início"),
                           QStringLiteral("Fim"), QStringLiteral("Operador")},
                          1, this);
    layout->addWidget(m_grid);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Lbl_Testes"));
    layout->addWidget(m_summary);
    const QList<QPushButton *> buttons =
        buttonRow(layout, this,
                  {{"btnEncerrar", QStringLiteral("&Encerrar teste")}, {"btnFechar", QStringLiteral("&Fechar")}});
    m_end = buttons[0];
    QPushButton *close = buttons[1];
    connect(m_start, &QPushButton::clicked, this, &Form_Contas_Teste::startTest);
    connect(m_end, &QPushButton::clicked, this, &Form_Contas_Teste::endSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    applyKeyboardHabits(this);
}

void Form_Contas_Teste::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    refresh();
}

void Form_Contas_Teste::tell(const QString &text) {
    if (m_common.prompt) m_common.prompt->message(text, kTitle, Prompt::Icon::Warning);
}

void Form_Contas_Teste::refresh() {
    const int max = stationModes::maxTestMinutes(m_current.permissoes);
    m_limit->setText(max == 0 ? QStringLiteral("O operador não tem permissão para colocar contas "
                                               "em teste.")
                              : QStringLiteral("Máximo permitido ao operador: %1.").arg(hours(max)));
    m_start->setEnabled(max > 0);
    m_end->setEnabled(max > 0);
    if (max > 0) m_minutes->setMaximum(max);
    QString error;
    const auto tests = stationModes::tests(m_common.database.primary(), &error);
    if (!tests) {
        m_summary->setText(error);
        return;
    }
    m_grid->setRowCount(int(tests->size()));
    for (int r = 0; r < tests->size(); ++r) {
        const AccountTest &t = tests->at(r);
        const QString cells[] = {t.conta,
                                 t.zonas.isEmpty() ? QStringLiteral("Todas")
                                                   : stationModes::zonesText(t.zonas),
                                 moment(t.inicio), moment(t.fim), t.operador};
        for (int c = 0; c < 5; ++c)
            m_grid->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    m_summary->setText(tests->isEmpty() ? QStringLiteral("Nenhuma conta em teste.")
                       : tests->size() == 1
                           ? QStringLiteral("1 conta em teste.")
                           : QStringLiteral("%1 contas em teste.").arg(tests->size()));
}

bool Form_Contas_Teste::startTest() {
    const int max = stationModes::maxTestMinutes(m_current.permissoes);
    if (max == 0) {
        tell(QStringLiteral("O operador não tem permissão para colocar contas em teste."));
        return false;
    }
    const QString conta = m_account->text().trimmed();
    if (conta.isEmpty()) {
        tell(QStringLiteral("Informe a conta."));
        return false;
    }
    const std::optional<QList<int>> zonas = stationModes::parseZones(m_zones->text());
    if (!zonas) {
        tell(QStringLiteral("Zonas inválidas: informe números de 1 a 32767 separados por "
                            "vírgula, ou deixe vazio para a conta inteira."));
        return false;
    }
    if (m_minutes->value() > max) {
        tell(QStringLiteral("A duração máxima permitida ao operador é %1.").arg(hours(max)));
        return false;
    }
    AccountTest t;
    t.conta = conta;
    t.zonas = *zonas;
    t.inicio = m_common.clock.now();
    t.fim = t.inicio.addSecs(qint64(m_minutes->value()) * 60);
    t.operador = m_current.nome;
    QString error;
    if (!stationModes::startTest(m_common.database.primary(), t, &error)) {
        tell(error);
        return false;
    }
    m_account->clear();
    m_zones->clear();
    refresh();
    return true;
}

bool Form_Contas_Teste::endSelected() {
    const int row = m_grid->currentRow();
    if (row < 0 || !m_grid->item(row, 0)) {
        tell(QStringLiteral("Selecione a conta cujo teste deve ser encerrado."));
        return false;
    }
    const QString conta = m_grid->item(row, 0)->text();
    if (m_common.prompt &&
        !m_common.prompt->question(
            QStringLiteral("Encerrar o teste da conta %1? Seus eventos voltam a aparecer nos "
                           "pendentes.")
                .arg(conta),
            kTitle))
        return false;
    QString error;
    if (!stationModes::endTest(m_common.database.primary(), conta, &error)) {
        tell(error);
        return false;
    }
    refresh();
    return true;
}

} // namespace tulmo
