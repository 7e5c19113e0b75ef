#include "Acesso_GPRS.h"

#include "core/operators/AuditTrail.h"

#include "ui/common/FileDialogChooser.h"
#include "ui/common/KeyboardHabits.h"
#include "core/common/Prompt.h"
#include "ui/modules/Form_QVN12.h"
#include "core/modules/ModuleCfgFile.h"
#include "core/modules/ModuleExchange.h"
#include "core/modules/ModuleParameterBlock.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tulmo {

namespace {
// A file that is no whole block may be looked at, never written to a module.
const QString kNotForUpload =
    QStringLiteral("Este arquivo não será enviado ao equipamento: o envio apagaria os campos "
                   "que faltam nele.");
} // namespace

Form_Acesso_GPRS::Form_Acesso_GPRS(ModuleExchange &exchange, Prompt *prompt, QWidget *parent)
    : QDialog(parent)
    , m_exchange(exchange)
    , m_prompt(prompt) {
    setObjectName(QStringLiteral("Form_Acesso_GPRS"));
    setWindowTitle(QStringLiteral("Acesso GPRS"));
    // Modal to the main window only: the pending-events window stays on top and usable.
    setWindowModality(Qt::WindowModal);
    m_defaultChooser = std::make_unique<FileDialogChooser>(this);
    m_chooser = m_defaultChooser.get();

    auto label = [](const char *nome, const QString &text) {
        return named(new QLabel(text), nome);
    };
    m_socket = label("Socket", QStringLiteral("Socket"));
    m_conexao = label("Conexao", QStringLiteral("Conexao"));
    m_equipamento = label("Equipamento", QStringLiteral("1"));
    m_informacao = label("Informacao", QStringLiteral("Informacao"));
    // A long message (a file's path, a reason) wraps inside the window instead of widening it
    // past the screen.
    m_informacao->setWordWrap(true);
    m_informacao->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_memo = named(new QPlainTextEdit, "Memo1");
    m_memo->setReadOnly(true);
    m_memo->hide();

    auto button = [this](const char *nome, const QString &text, const QString &hint,
                         void (Form_Acesso_GPRS::*f)()) {
        auto *b = named(new QPushButton(text), nome);
        b->setToolTip(hint);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, f);
        return b;
    };
    m_acessar = button("Button_Acessar", QStringLiteral("Acessar Dados"),
                       QStringLiteral("Clique para alterar os dados do equipamento"),
                       &Form_Acesso_GPRS::Button_AcessarClick);
    m_enviar = button("Button_Enviar", QStringLiteral("Upload"),
                      QStringLiteral("Clique para enviar as alterações"),
                      &Form_Acesso_GPRS::Button_EnviarClick);
    m_salvar = button("Button_Salvar_Arquivo", QStringLiteral("Salvar p/ Arquivo"), QString(),
                      &Form_Acesso_GPRS::Button_Salvar_ArquivoClick);
    m_abrir = button("Button_Abrir_Arquivo", QStringLiteral("Abrir Arquivo"), QString(),
                     &Form_Acesso_GPRS::Button_Abrir_ArquivoClick);
    m_resetar = button("Button_Resetar_Equipamento", QStringLiteral("Resetar Dispositivo"),
                       QStringLiteral("Clique para reiniciar o equipamento"),
                       &Form_Acesso_GPRS::Button_Resetar_EquipamentoClick);
    m_download = button("Button_Download", QStringLiteral("Download"),
                        QStringLiteral("Clique para baixar os dados do equipamento"),
                        &Form_Acesso_GPRS::Button_DownloadClick);

    auto *device = new QGridLayout;
    device->addWidget(new QLabel(QStringLiteral("Servidor:")), 0, 0);
    device->addWidget(new QLabel(QStringLiteral("Conexão:")), 0, 1);
    device->addWidget(new QLabel(QStringLiteral("Equipamento:")), 0, 2);
    device->addWidget(m_socket, 1, 0);
    device->addWidget(m_conexao, 1, 1);
    device->addWidget(m_equipamento, 1, 2);
    auto *actions = new QGridLayout;
    actions->addWidget(m_acessar, 0, 0);
    actions->addWidget(m_enviar, 0, 1);
    actions->addWidget(m_download, 0, 2);
    actions->addWidget(m_salvar, 1, 0);
    actions->addWidget(m_abrir, 1, 1);
    actions->addWidget(m_resetar, 1, 2);
    auto *l = new QVBoxLayout(this);
    l->addLayout(device);
    l->addWidget(m_informacao);
    l->addWidget(m_memo);
    l->addLayout(actions);
    setFixedWidth(kWidth);

    connect(&m_exchange, &ModuleExchange::informationChanged, this,
            &Form_Acesso_GPRS::showInformation);
    connect(&m_exchange, &ModuleExchange::modelNameChanged, m_equipamento, &QLabel::setText);
    connect(&m_exchange, &ModuleExchange::hexTextChanged, m_memo, &QPlainTextEdit::setPlainText);
    connect(&m_exchange, &ModuleExchange::buttonsChanged, this, &Form_Acesso_GPRS::followButtons);
    followButtons();
    applyKeyboardHabits(this);
}

Form_Acesso_GPRS::~Form_Acesso_GPRS() = default;

void Form_Acesso_GPRS::setEditor(Form_QVN12 *editor) {
    if (m_editor) disconnect(m_editor, nullptr, this, nullptr);
    m_editor = editor;
    if (!editor) return;
    connect(editor, &Form_QVN12::blockEncoded, this, [this](const QByteArray &raw) {
        if (!m_exchange.setPendingUploadBlock(raw) && !m_informacao->text().contains(kNotForUpload))
            showInformation(kNotForUpload);
    });
    connect(editor, &Form_QVN12::commandRequested, this,
            [this](const QByteArray &bytes) { m_exchange.Envia_Comando_Gprs(bytes); });
    connect(&m_exchange, &ModuleExchange::channelReading, editor, &Form_QVN12::showChannelReading);
}

void Form_Acesso_GPRS::prepare(int slot, int socketIndex, TcpConnection *socket) {
    m_exchange.clearHexText();
    m_socket->setText(QString::number(slot));
    m_conexao->setText(QString::number(socketIndex));
    m_exchange.setTarget(slot, socket);
}

void Form_Acesso_GPRS::openFor(int slot, int socketIndex, TcpConnection *socket) {
    prepare(slot, socketIndex, socket);
    exec();
}

void Form_Acesso_GPRS::showEvent(QShowEvent *e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) m_exchange.startDownload();
}

void Form_Acesso_GPRS::showInformation(const QString &text) {
    m_informacao->setText(text);
    // The width stays; the window takes the lines the message needs, and gives them back.
    adjustSize();
}

void Form_Acesso_GPRS::followButtons() {
    const ModuleExchange::Buttons b = m_exchange.buttons();
    m_acessar->setEnabled(b.acessar);
    m_enviar->setEnabled(b.enviar);
    m_download->setEnabled(b.download);
    m_resetar->setEnabled(b.resetar);
}

void Form_Acesso_GPRS::Button_AcessarClick() {
    // The editor knows the QVN models only; the LX-ORB receivers have no editor.
    if (isEditableModel(m_exchange.modelName())) openEditor();
}

void Form_Acesso_GPRS::openEditor() {
    if (!m_editor) return;
    m_editor->setModelName(m_equipamento->text());
    m_editor->setBlockHex(m_exchange.hexText());
    m_editor->exec();
}

void Form_Acesso_GPRS::Button_EnviarClick() {
    m_exchange.startUpload();
    emit moduleCommand(QString::fromUtf8(audit::kModuleUpload));
}

void Form_Acesso_GPRS::Button_DownloadClick() {
    m_exchange.startDownload();
}

void Form_Acesso_GPRS::Button_Salvar_ArquivoClick() {
    // Only a whole block is saved: an empty or partial one would later blank a module.
    QString why;
    const QString hex = m_exchange.hexToSave(&why);
    if (hex.isEmpty()) {
        if (m_prompt)
            m_prompt->message(why, QStringLiteral("Salvar p/ Arquivo"), Prompt::Icon::Warning);
        return;
    }
    QString path =
        m_chooser->saveFile(QStringLiteral("Salvar p/ Arquivo"), QString::fromUtf8(kCfgDefaultName),
                            QString::fromLatin1(kCfgFilter), QString::fromLatin1(kCfgSuffix));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + QLatin1String(kCfgSuffix);
    if (QFileInfo::exists(path) && m_prompt &&
        !m_prompt->question(QStringLiteral("Deseja sobreescrever o arquivo existente?"),
                            QStringLiteral("ARQUIVO JÁ EXISTE")))
        return;
    const CfgWriteResult r = writeCfgFile(path, hex);
    if (!r.written && m_prompt)
        m_prompt->message(r.error, QStringLiteral("ERRO"), Prompt::Icon::Error);
}

void Form_Acesso_GPRS::Button_Abrir_ArquivoClick() {
    const QString path = m_chooser->openFile(QStringLiteral("Abrir Arquivo"), QString(),
                                             QString::fromLatin1(kCfgFilter));
    if (path.isEmpty()) return;
    const CfgReadResult r = readCfgFile(path);
    if (!r.read) {
        if (m_prompt) m_prompt->message(r.error, QStringLiteral("ERRO"), Prompt::Icon::Error);
        return;
    }
    m_exchange.loadHexText(r.hex);
    // A file that is not one whole block still opens, its missing parts as zeros and empty
    // texts, to be looked at; the operator is told what is wrong with it and that it will not
    // be uploaded.
    if (!r.isBlock) {
        const QString text = r.error + QLatin1Char('\n') + kNotForUpload;
        showInformation(text);
        if (m_prompt)
            m_prompt->message(text, QStringLiteral("Abrir Arquivo"), Prompt::Icon::Warning);
    }
    openEditor();
}

void Form_Acesso_GPRS::Button_Resetar_EquipamentoClick() {
    m_exchange.resetDevice();
    emit moduleCommand(QString::fromUtf8(audit::kModuleReset));
    reject();
}

} // namespace tulmo
