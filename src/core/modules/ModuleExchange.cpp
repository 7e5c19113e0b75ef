#include "ModuleExchange.h"

#include "core/modules/ModuleParameterBlock.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/DeviceLink.h"

namespace tulmo {

namespace {
const QString kNoAnswer = QStringLiteral("Equipamento GPRS não responde!");
const QString kDisconnected = QStringLiteral("Equipamento desconectado!");
} // namespace

ModuleExchange::ModuleExchange(DM1 &dm, ConnectionRegistry &registry, DeviceLink &link,
                               QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_registry(registry) {
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer3.setObjectName(QStringLiteral("Timer3"));
    for (QTimer *t : {&m_timer1, &m_timer2, &m_timer3, &m_upePause})
        t->setSingleShot(true);
    // A coarse timer may end up to 5 % early; the module needs the whole pause.
    m_upePause.setTimerType(Qt::PreciseTimer);
    setIntervals(Intervals());
    connect(&m_timer1, &QTimer::timeout, this, &ModuleExchange::noAnswer);
    connect(&m_timer2, &QTimer::timeout, this, &ModuleExchange::completeDownload);
    connect(&m_timer3, &QTimer::timeout, this, &ModuleExchange::uploadTimedOut);
    connect(&m_upePause, &QTimer::timeout, this, &ModuleExchange::sendBlock);
    connect(&link, &DeviceLink::dumpReceived, this,
            [this](int k, const QByteArray &payload) { dumpReceived(k, payload); });
    connect(&link, &DeviceLink::uploadAllowed, this, &ModuleExchange::uploadAllowed);
    connect(&link, &DeviceLink::uploadDone, this, &ModuleExchange::uploadDone);
    connect(&link, &DeviceLink::channelReading, this, &ModuleExchange::deviceReading);
}

// The data module may be gone already: the slots' flags are left to it.
ModuleExchange::~ModuleExchange() = default;

void ModuleExchange::setIntervals(const Intervals &intervals) {
    m_intervals = intervals;
    m_timer1.setInterval(intervals.noAnswerMs);
    m_timer2.setInterval(intervals.completionMs);
    m_timer3.setInterval(intervals.uploadMs);
    m_upePause.setInterval(intervals.upePauseMs);
}

void ModuleExchange::setTarget(int slot, TcpConnection *socket) {
    if (m_phase != Phase::Idle) stopExchange();
    disconnect(m_targetWatch);
    m_slot = m_dm.validSlot(slot) ? slot : 0;
    m_target = socket;
    if (socket)
        m_targetWatch = connect(socket, &TcpConnection::disconnected, this,
                                &ModuleExchange::targetDisconnected);
}

bool ModuleExchange::Envia_Comando_Gprs(const QByteArray &text) {
    return targetConnected() && m_registry.send(m_target.data(), text);
}

void ModuleExchange::startDownload() {
    if (m_phase != Phase::Idle) stopExchange();
    if (!m_slot || !targetConnected()) {
        say(kDisconnected);
        setButtons({m_buttons.acessar && !m_hex.isEmpty(), false, false, false});
        return;
    }
    // An event frame the device had begun is its own, not the start of the block.
    m_registry.frames().release(m_target.data());
    ReceiverSlot &s = m_dm.slot(m_slot);
    s.dumpPending = 1;
    s.transferConnection = m_target;
    m_phase = Phase::AwaitingBlock;
    m_block.clear();
    m_surplus = 0;
    say(QStringLiteral("Enviando comando de leitura..."));
    setButtons({});
    m_timer1.start();
    // A write that fails closes the connection, and its disconnection ends the exchange.
    Envia_Comando_Gprs(QByteArrayLiteral("DW"));
}

void ModuleExchange::dumpReceived(int k, const QByteArray &payload) {
    if (k != m_slot) return;
    if (m_phase == Phase::AwaitingBlock) {
        m_timer1.stop();
        m_phase = Phase::ReceivingBlock;
        setHex(QString());
        newBlockArrived();
        say(QStringLiteral("Recebendo dados..."));
    }
    if (m_phase != Phase::ReceivingBlock) return;
    const qsizetype room = kBlockSize - m_block.size();
    m_block += payload.left(room);
    m_surplus += qMax<qsizetype>(0, payload.size() - room);
    setHex(QString::fromLatin1(m_block.toHex().toUpper()));
    // A block may come in several reads: the completion time counts from the last of them.
    if (m_block.size() >= kBlockSize)
        completeDownload();
    else
        m_timer2.start();
}

void ModuleExchange::completeDownload() {
    if (m_phase != Phase::ReceivingBlock) return;
    m_timer2.stop();
    m_phase = Phase::Idle;
    clearAllDumpFlags();
    releaseTransfer();
    QString text = QStringLiteral("Dados Recebidos.") + QString::number(m_hex.size() / 2) +
                   QStringLiteral(" Bytes");
    if (m_surplus > 0)
        text += QStringLiteral(" (%1 bytes além de %2 descartados)").arg(m_surplus).arg(kBlockSize);
    say(text);
    m_modelName = moduleModelName(moduleModelCode(m_hex));
    emit modelNameChanged(m_modelName);
    setButtons({true, false, true, true});
}

void ModuleExchange::noAnswer() {
    if (m_phase != Phase::AwaitingBlock) return;
    m_phase = Phase::Idle;
    say(kNoAnswer);
    clearAllDumpFlags();
    releaseTransfer();
    setButtons({false, false, true, false});
}

void ModuleExchange::startUpload() {
    if (m_phase != Phase::Idle || m_pendingUpload.isEmpty() || m_refusedFile) return;
    if (!m_slot || !targetConnected()) {
        say(kDisconnected);
        setButtons({m_buttons.acessar, false, false, false});
        return;
    }
    // The block of this upload stays what it was when it began, whatever the editor does
    // meanwhile.
    m_uploadBlock = m_pendingUpload;
    say(QStringLiteral("Enviando comando de gravação..."));
    m_timer3.start();
    setButtons({});
    m_phase = Phase::AwaitingUpe;
    m_registry.frames().release(m_target.data());
    ReceiverSlot &s = m_dm.slot(m_slot);
    s.transferConnection = m_target;
    if (!Envia_Comando_Gprs(QByteArrayLiteral("UPI"))) return;
    s.uploadPending = 1;
}

void ModuleExchange::uploadAllowed(int k, TcpConnection *socket) {
    if (k != m_slot || socket != m_target) return;
    // A repeated "UPE" while the block is on its way changes nothing; after the block went
    // out, the module asks for it again.
    if (m_phase != Phase::AwaitingUpe && m_phase != Phase::AwaitingUpok) return;
    m_phase = Phase::UpePause;
    say(QStringLiteral("Enviando dados..."));
    setButtons({});
    // The module needs this pause before the block; reception goes on meanwhile.
    m_upeSince.start();
    m_upePause.start(m_intervals.upePauseMs);
}

void ModuleExchange::sendBlock() {
    if (m_phase != Phase::UpePause) return;
    // Never short of the pause, whatever the timer did: the rest is waited for again.
    const qint64 left = m_intervals.upePauseMs - m_upeSince.elapsed();
    if (left > 0) {
        m_upePause.start(int(left));
        return;
    }
    m_phase = Phase::AwaitingUpok;
    Envia_Comando_Gprs(m_uploadBlock);
}

void ModuleExchange::uploadDone(int k) {
    if (k != m_slot) return;
    if (m_phase != Phase::AwaitingUpe && m_phase != Phase::UpePause &&
        m_phase != Phase::AwaitingUpok)
        return;
    m_timer3.stop();
    m_upePause.stop();
    m_phase = Phase::Idle;
    releaseTransfer();
    say(QStringLiteral("Dados enviados com sucesso!"));
    // The technician reads the module back to check what it now holds.
    setButtons({false, true, true, false});
}

void ModuleExchange::uploadTimedOut() {
    if (m_phase != Phase::AwaitingUpe && m_phase != Phase::UpePause &&
        m_phase != Phase::AwaitingUpok)
        return;
    m_upePause.stop();
    m_phase = Phase::Idle;
    say(kNoAnswer);
    clearAllUploadFlags();
    releaseTransfer();
    setButtons({false, true, true, false});
}

void ModuleExchange::resetDevice() {
    Envia_Comando_Gprs(QByteArrayLiteral("RESET"));
}

bool ModuleExchange::setPendingUploadBlock(const QByteArray &raw) {
    if (m_refusedFile) return false;
    m_pendingUpload = raw;
    m_pendingIsCurrent = !raw.isEmpty();
    // Nothing can be sent while another exchange runs or when the device is gone.
    if (m_phase == Phase::Idle && targetConnected() && !raw.isEmpty()) {
        Buttons b = m_buttons;
        b.enviar = true;
        setButtons(b);
    }
    return true;
}

void ModuleExchange::newBlockArrived() {
    m_pendingIsCurrent = false;
    m_refusedFile = false;
}

void ModuleExchange::clearHexText() {
    setHex(QString());
    newBlockArrived();
}

QString ModuleExchange::hexToSave(QString *why) const {
    auto refuse = [why](const QString &reason) {
        if (why) *why = reason;
        return QString();
    };
    if (m_pendingIsCurrent && m_pendingUpload.size() == kBlockSize)
        return QString::fromLatin1(m_pendingUpload.toHex().toUpper());
    if (m_refusedFile)
        return refuse(QStringLiteral("O arquivo aberto não contém um bloco de parâmetros "
                                     "válido; não há bloco para salvar."));
    if (m_hex.isEmpty())
        return refuse(QStringLiteral("Nenhum bloco de parâmetros foi recebido do equipamento "
                                     "nem aberto de um arquivo; não há bloco para salvar."));
    const QString problem = blockHexProblem(m_hex);
    if (!problem.isEmpty())
        return refuse(QStringLiteral("Não há bloco completo para salvar. ") + problem);
    return m_hex;
}

void ModuleExchange::loadHexText(const QString &hex) {
    Buttons b = m_buttons;
    // The operator's file replaces the block being read: what the device still sends of it is
    // not wanted.
    if (m_phase == Phase::AwaitingBlock || m_phase == Phase::ReceivingBlock) {
        stopExchange();
        say(QString());
        b = {false, false, targetConnected(), targetConnected()};
    }
    setHex(hex);
    newBlockArrived();
    m_refusedFile = !blockHexProblem(hex).isEmpty();
    if (m_refusedFile) m_pendingUpload.clear();
    // Only the editor's closing offers this block for upload.
    b.enviar = false;
    b.acessar = true;
    setButtons(b);
}

void ModuleExchange::targetDisconnected() {
    const bool downloading = m_phase == Phase::AwaitingBlock || m_phase == Phase::ReceivingBlock;
    stopExchange();
    // Part of a block is no block: it must not be edited, saved or sent as one.
    if (downloading) setHex(QString());
    say(kDisconnected);
    setButtons({!downloading && m_buttons.acessar, false, false, false});
}

void ModuleExchange::deviceReading(int k, const QByteArray &frame, TcpConnection *socket) {
    // A shorter "#$" message has no readings to show.
    if (k != m_slot || socket != m_target || frame.size() < 16) return;
    emit channelReading(frame);
}

void ModuleExchange::stopExchange() {
    m_timer1.stop();
    m_timer2.stop();
    m_timer3.stop();
    m_upePause.stop();
    if (m_slot) {
        ReceiverSlot &s = m_dm.slot(m_slot);
        s.dumpPending = 0;
        s.uploadPending = 0;
    }
    releaseTransfer();
    m_phase = Phase::Idle;
}

void ModuleExchange::clearAllDumpFlags() {
    for (int k = 1; k <= DM1::kSlots; ++k)
        m_dm.slot(k).dumpPending = 0;
}

void ModuleExchange::clearAllUploadFlags() {
    for (int k = 1; k <= DM1::kSlots; ++k)
        m_dm.slot(k).uploadPending = 0;
}

void ModuleExchange::releaseTransfer() {
    if (!m_slot) return;
    ReceiverSlot &s = m_dm.slot(m_slot);
    if (!s.dumpPending && !s.uploadPending) s.transferConnection = nullptr;
}

void ModuleExchange::say(const QString &text) {
    m_information = text;
    emit informationChanged(text);
}

void ModuleExchange::setButtons(const Buttons &b) {
    if (b == m_buttons) return;
    m_buttons = b;
    emit buttonsChanged();
}

void ModuleExchange::setHex(const QString &hex) {
    if (hex == m_hex) return;
    m_hex = hex;
    emit hexTextChanged(hex);
}

} // namespace tulmo
