#include "Form_QVN12.h"

#include "RadioGroup.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Prompt.h"
#include "core/modules/ChannelReading.h"
#include "core/store/Database.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>

namespace tulmo {

namespace {

const QColor kOnColor(0, 128, 0);
const QColor kOffColor(255, 0, 0);
// The values a channel shows when its module has no row: the columns' own defaults.
constexpr int kDefaultMinimo = 0;
constexpr int kDefaultMaximo = 255;
constexpr int kLargestLevel = 255; // tenths: one byte
constexpr int kLargestTime = 255;  // seconds: one byte
const char *kNominalLength = "nominalMaxLength";

// A text from the module is shown whole even when it is longer than what the operator may
// type in the field: cutting it to the typing limit would change the module on the way back.
void setWholeText(QLineEdit *e, const QString &text) {
    QVariant nominal = e->property(kNominalLength);
    if (!nominal.isValid()) {
        nominal = e->maxLength();
        e->setProperty(kNominalLength, nominal);
    }
    e->setMaxLength(qMax(nominal.toInt(), int(text.size())));
    e->setText(text);
}

void setBit(int &bits, int bit, bool on) {
    bits = on ? bits | bit : bits & ~bit;
}

} // namespace

Form_QVN12::Form_QVN12(Database &database, Prompt *prompt, QWidget *parent)
    : QDialog(parent)
    , m_database(database)
    , m_prompt(prompt)
    , m_row(ModuleSettings::none(QString())) {
    setObjectName(QStringLiteral("Form_QVN12"));
    // Modal to the window that opened it only: the pending-events window stays usable.
    setWindowModality(Qt::WindowModal);
    m_c.build(this);
    setInitialCaption(QStringLiteral("QVN12"));

    connect(m_c.IMEI, &QLineEdit::textChanged, this, &Form_QVN12::loadRow);
    connect(m_c.Botao_Salvar, &QPushButton::clicked, this, &Form_QVN12::SalvarClick);
    connect(m_c.Botao_Ler_Canais, &QPushButton::clicked, this, &Form_QVN12::Ler_CanaisClick);
    connect(m_c.Botao_Fechar, &QPushButton::clicked, this, &QDialog::accept);
    for (int k = 1; k <= kPgmOutputs; ++k) {
        connect(m_c.Botao_PGM[k - 1], &QPushButton::clicked, this, [this, k] { PGMClick(k); });
        showPgmState(k, false);
    }
    for (int n = 1; n <= kChannels; ++n)
        connect(m_c.Unidade_Canal[n - 1], &ClickableLabel::clicked, this,
                [this, n] { Unidade_CanalClick(n); });
    applyKeyboardHabits(this);
}

void Form_QVN12::setInitialCaption(const QString &caption) {
    m_initialCaption = caption;
    setWindowTitle(caption);
}

void Form_QVN12::setModelName(const QString &name) {
    m_modelName = name;
    if (windowTitle() != m_initialCaption) updateCaption();
}

void Form_QVN12::setBlockHex(const QString &hex) {
    m_hex = hex;
    if (isVisible()) decodeIntoEditor(m_hex);
}

void Form_QVN12::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    // Restoring a minimised editor is no new showing: the operator's edits stay.
    if (!e->spontaneous()) decodeIntoEditor(m_hex);
}

void Form_QVN12::decodeIntoEditor(const QString &hex) {
    m_block = DecodeParameterBlock(hex);
    showBlock(m_block);
}

void Form_QVN12::showBlock(const ModuleParameterBlock &b) {
    m_c.Numero_Equipamento->setText(QString::number(b.Numero_Equipamento));
    m_c.Equipamento->setText(QString::number(b.Equipamento));
    m_c.Data->setText(QString::number(b.Data));
    m_c.Velocidade_Com->setText(QString::number(b.Velocidade_Com));
    m_c.Spin_Keep_Alive->setValue(b.Spin_Keep_Alive);
    m_c.Spin_Chamadas_Externas->setValue(b.Spin_Chamadas_Externas);
    m_c.Modo_Reportagem->setItemIndex(b.Modo_Reportagem);
    // The identifier loads the module's row; the same identifier again reads it afresh
    // (another station may have saved it meanwhile).
    const bool sameImei = m_c.IMEI->text() == b.IMEI;
    for (const Qvn12Controls::TextControl &t : m_c.textControls())
        setWholeText(t.edit, b.*t.field);
    if (sameImei && !b.IMEI.isEmpty()) loadRow(b.IMEI);
    m_c.Tentativas_Conexao->setValue(b.Tentativas_Conexao);
    m_c.Tempo_Tentativas->setValue(b.Tempo_Tentativas);
    m_c.Tentativas_IMEI->setValue(b.Tentativas_IMEI);
    m_c.Tentativas_Evento->setValue(b.Tentativas_Evento);
    for (int i = 0; i < kChannels; ++i) {
        m_c.Nivel_Baixo[i]->setText(formatTenths(b.Nivel_Baixo[i]));
        m_c.Nivel_Alto[i]->setText(formatTenths(b.Nivel_Alto[i]));
        m_c.Tempo_Baixo[i]->setText(QString::number(b.Tempo_Baixo[i]));
        m_c.Tempo_Alto[i]->setText(QString::number(b.Tempo_Alto[i]));
    }
    const int bits[] = {ConfigBits::kBuscaIpSms, ConfigBits::kEventosGprs,
                        ConfigBits::kDiscagemDomestica, ConfigBits::kEventosSms,
                        ConfigBits::kAlarmesCanais};
    for (int i = 0; i < 5; ++i)
        m_c.CheckBox[i]->setChecked(b.Configuracoes & bits[i]);
    m_c.RadioGroup2->setItemIndex(b.Configuracoes & ConfigBits::kUdp ? 1 : 0);
    m_c.RadioGroup3->setItemIndex(b.Configuracoes & ConfigBits::kIpDinamico ? 1 : 0);
    m_c.SMS_Modo->setItemIndex(0);
    m_c.IP_Local->setText(b.IP_Local);
    for (int i = 0; i < kChannels; ++i) {
        setWholeText(m_c.SMS_Alto[i], b.SMS_Alto[i]);
        setWholeText(m_c.SMS_Baixo[i], b.SMS_Baixo[i]);
    }
}

bool Form_QVN12::readLevel(QLineEdit *e, const QString &what, int channel, int *tenths,
                           QString *error) {
    if (!parseTenths(e->text(), tenths)) {
        *error = QStringLiteral("%1 do canal %2: \"%3\" não é um número válido. Use um número "
                                "de 0 a 25,5 com no máximo uma casa decimal, como 12,7.")
                     .arg(what)
                     .arg(channel)
                     .arg(e->text());
    } else if (*tenths < 0 || *tenths > kLargestLevel) {
        // One byte holds it: 26,0 would reach the module as 0,4.
        *error = QStringLiteral("%1 do canal %2: %3 Volts está fora do que o módulo aceita "
                                "(de 0 a 25,5 Volts).")
                     .arg(what)
                     .arg(channel)
                     .arg(e->text().trimmed());
    } else {
        return true;
    }
    focusField(e);
    return false;
}

bool Form_QVN12::readTime(QLineEdit *e, const QString &what, int channel, int *seconds,
                          QString *error) {
    if (!parseWhole(e->text(), seconds)) {
        *error = QStringLiteral("%1 do canal %2: \"%3\" não é um número inteiro válido de "
                                "segundos.")
                     .arg(what)
                     .arg(channel)
                     .arg(e->text());
    } else if (*seconds < 0 || *seconds > kLargestTime) {
        *error = QStringLiteral("%1 do canal %2: %3 segundos está fora do que o módulo aceita "
                                "(de 0 a 255 segundos).")
                     .arg(what)
                     .arg(channel)
                     .arg(*seconds);
    } else {
        return true;
    }
    focusField(e);
    return false;
}

std::optional<ModuleParameterBlock> Form_QVN12::blockFromEditor(QString *errorText) {
    ModuleParameterBlock b = m_block; // the labels and the bits the editor only carries
    b.Spin_Keep_Alive = m_c.Spin_Keep_Alive->value();
    b.Spin_Chamadas_Externas = m_c.Spin_Chamadas_Externas->value();
    if (m_c.Modo_Reportagem->itemIndex() >= 0) b.Modo_Reportagem = m_c.Modo_Reportagem->itemIndex();
    for (const Qvn12Controls::TextControl &t : m_c.textControls())
        b.*t.field = t.edit->text();
    b.Tentativas_Conexao = m_c.Tentativas_Conexao->value();
    b.Tempo_Tentativas = m_c.Tempo_Tentativas->value();
    b.Tentativas_IMEI = m_c.Tentativas_IMEI->value();
    b.Tentativas_Evento = m_c.Tentativas_Evento->value();
    for (int i = 0; i < kChannels; ++i) {
        const int n = i + 1;
        if (!readLevel(m_c.Nivel_Baixo[i], QStringLiteral("Nivel Baixo"), n, &b.Nivel_Baixo[i],
                       errorText) ||
            !readLevel(m_c.Nivel_Alto[i], QStringLiteral("Nivel Alto"), n, &b.Nivel_Alto[i],
                       errorText) ||
            !readTime(m_c.Tempo_Baixo[i], QStringLiteral("Tempo Baixo"), n, &b.Tempo_Baixo[i],
                      errorText) ||
            !readTime(m_c.Tempo_Alto[i], QStringLiteral("Tempo Alto"), n, &b.Tempo_Alto[i],
                      errorText))
            return std::nullopt;
    }
    const int bits[] = {ConfigBits::kBuscaIpSms, ConfigBits::kEventosGprs,
                        ConfigBits::kDiscagemDomestica, ConfigBits::kEventosSms,
                        ConfigBits::kAlarmesCanais};
    for (int i = 0; i < 5; ++i)
        setBit(b.Configuracoes, bits[i], m_c.CheckBox[i]->isChecked());
    setBit(b.Configuracoes, ConfigBits::kUdp, m_c.RadioGroup2->itemIndex() == 1);
    setBit(b.Configuracoes, ConfigBits::kIpDinamico, m_c.RadioGroup3->itemIndex() == 1);
    for (int i = 0; i < kChannels; ++i) {
        b.SMS_Alto[i] = m_c.SMS_Alto[i]->text();
        b.SMS_Baixo[i] = m_c.SMS_Baixo[i]->text();
    }
    return b;
}

void Form_QVN12::done(int result) {
    QString error;
    const std::optional<ModuleParameterBlock> b = blockFromEditor(&error);
    if (!b) {
        tell(error, QStringLiteral("ERRO"));
        return;
    }
    const QByteArray raw = EncodeParameterBlock(*b);
    // The fields show what the module will hold: "0" padding written out, blanks trimmed.
    m_block = normalizedTexts(*b);
    for (const Qvn12Controls::TextControl &t : m_c.textControls())
        if (t.edit->text() != m_block.*t.field) setWholeText(t.edit, m_block.*t.field);
    for (int i = 0; i < kChannels; ++i) {
        setWholeText(m_c.SMS_Alto[i], m_block.SMS_Alto[i]);
        setWholeText(m_c.SMS_Baixo[i], m_block.SMS_Baixo[i]);
    }
    emit blockEncoded(raw);
    QDialog::done(result);
}

void Form_QVN12::loadRow(const QString &imei) {
    QString error;
    const auto loaded = ModuleSettingsRepository::load(m_database.primary(), imei, &m_row, &error);
    m_rowFound = loaded == ModuleSettingsRepository::Load::Found;
    if (loaded == ModuleSettingsRepository::Load::Failed)
        tell(QStringLiteral("Houve um erro ao ler o cadastro do módulo %1.\n%2").arg(imei, error),
             QStringLiteral("ERRO"));
    showRow();
    updateCaption();
}

void Form_QVN12::showRow() {
    for (int i = 0; i < kPgmOutputs; ++i) {
        const int tipo = m_row.tipoPgm[i];
        m_c.RadioGroup_PGM[i]->setItemIndex(tipo >= 0 && tipo <= 2 ? tipo : 0);
        m_c.SpinPGM[i]->setValue(m_row.tempoPgm[i]);
    }
    for (int i = 0; i < kChannels; ++i) {
        m_c.Nivel_Minimo[i]->setText(formatTenths(m_row.canalMinimo[i]));
        m_c.Nivel_Maximo[i]->setText(formatTenths(m_row.canalMaximo[i]));
        const QString unit =
            m_row.canalUnidade[i].isEmpty() ? QStringLiteral("Volts") : m_row.canalUnidade[i];
        m_c.Unidade_Canal[i]->setText(unit);
        m_c.readingUnit[i]->setText(unit);
    }
}

void Form_QVN12::updateCaption() {
    setWindowTitle(m_modelName + QStringLiteral(" - IMEI:") + m_c.IMEI->text());
}

void Form_QVN12::SalvarClick() {
    ModuleSettings s = m_row;
    s.imei = m_c.IMEI->text();
    // EQUIPAMENTO holds two characters: a code that does not fit keeps the stored one.
    const QString code = m_c.Equipamento->text();
    if (code.size() <= 2) s.equipamento = code;
    s.senhaAcesso = m_c.Senha_Acesso->text();
    for (int i = 0; i < kChannels; ++i) {
        for (auto [edit, target, what] :
             {std::tuple{m_c.Nivel_Minimo[i], &s.canalMinimo[i], "Nível Mínimo"},
              std::tuple{m_c.Nivel_Maximo[i], &s.canalMaximo[i], "Nível Máximo"}}) {
            int tenths = 0;
            QString problem;
            if (!parseTenths(edit->text(), &tenths))
                problem = QStringLiteral("\"%1\" não é um número válido. Use no máximo uma "
                                         "casa decimal, como 12,7.")
                              .arg(edit->text());
            else if (tenths < ModuleSettingsRepository::kSmallestStored ||
                     tenths > ModuleSettingsRepository::kLargestStored)
                problem = QStringLiteral("o valor deve estar entre -3276,8 e 3276,7.");
            if (!problem.isEmpty()) {
                focusField(edit);
                tell(QStringLiteral("%1 de Entrada do canal %2: %3 Nada foi gravado.")
                         .arg(QString::fromUtf8(what))
                         .arg(i + 1)
                         .arg(problem),
                     QStringLiteral("ERRO"));
                return;
            }
            *target = tenths;
        }
        s.canalUnidade[i] = m_c.Unidade_Canal[i]->text();
    }
    for (int i = 0; i < kPgmOutputs; ++i) {
        s.tipoPgm[i] = qMax(0, m_c.RadioGroup_PGM[i]->itemIndex());
        s.tempoPgm[i] = m_c.SpinPGM[i]->value();
    }
    QString error;
    switch (ModuleSettingsRepository::save(m_database.primary(), s, &error)) {
    case ModuleSettingsRepository::Save::Saved:
        loadRow(s.imei);
        break;
    case ModuleSettingsRepository::Save::Missing:
        tell(QStringLiteral("O módulo de IMEI %1 não está no cadastro de GPRS: nada foi "
                            "gravado.")
                 .arg(s.imei),
             QStringLiteral("Salvar"));
        break;
    case ModuleSettingsRepository::Save::Failed:
        tell(
            QStringLiteral("Houve um erro ao gravar os dados do módulo %1.\n%2").arg(s.imei, error),
            QStringLiteral("ERRO"));
        break;
    }
}

void Form_QVN12::Ler_CanaisClick() {
    // The password the module's row keeps; a module without one in its row is asked with the
    // password of its block.
    const QString password =
        m_rowFound && !m_row.senhaAcesso.isEmpty() ? m_row.senhaAcesso : m_c.Senha_Acesso->text();
    emit commandRequested(ModuleCommands::readChannels(password));
}

void Form_QVN12::PGMClick(int k) {
    const int i = k - 1;
    emit commandRequested(ModuleCommands::switchPgm(m_c.Senha_Acesso->text(), k, !m_pgmOn[i],
                                                    qMax(0, m_c.RadioGroup_PGM[i]->itemIndex()),
                                                    m_c.SpinPGM[i]->value()));
}

void Form_QVN12::Unidade_CanalClick(int n) {
    if (!m_prompt) return;
    ClickableLabel *label = m_c.Unidade_Canal[n - 1];
    const std::optional<QString> answer =
        m_prompt->askText(QStringLiteral("Digite o nome da Unidade"),
                          QStringLiteral("Máximo 10 Letras"), label->text());
    if (!answer) return;
    const QString unit = answer->trimmed().left(ModuleSettingsRepository::kUnitWidth);
    label->setText(unit.isEmpty() ? QStringLiteral("Volts") : unit);
}

void Form_QVN12::showChannelReading(const QByteArray &frame) {
    const std::optional<ChannelReading> r = ChannelReading::parse(frame);
    if (!r) return;
    for (int i = 0; i < kChannels; ++i) {
        // The range as stored, not the page's unsaved fields.
        const int m = m_rowFound ? m_row.canalMinimo[i] : kDefaultMinimo;
        const int M = m_rowFound ? m_row.canalMaximo[i] : kDefaultMaximo;
        m_c.Mostrador_Canal[i]->setText(formatDecimal(channelValue(r->raw[i], m, M)));
    }
    for (int k = 1; k <= kPgmOutputs; ++k)
        showPgmState(k, r->pgmOn(k));
}

void Form_QVN12::showPgmState(int k, bool on) {
    m_pgmOn[k - 1] = on;
    QPushButton *b = m_c.Botao_PGM[k - 1];
    b->setText(on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, on ? kOnColor : kOffColor);
    b->setPalette(p);
}

void Form_QVN12::focusField(QWidget *w) {
    for (int i = 0; i < m_c.pages->count(); ++i)
        if (m_c.pages->widget(i)->isAncestorOf(w)) m_c.pages->setCurrentIndex(i);
    w->setFocus();
    if (auto *e = qobject_cast<QLineEdit *>(w)) e->selectAll();
}

void Form_QVN12::tell(const QString &text, const QString &caption) {
    if (m_prompt) m_prompt->message(text, caption, Prompt::Icon::Error);
}

} // namespace tulmo
