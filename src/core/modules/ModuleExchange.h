#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "core/reception/TcpConnection.h"

namespace tulmo {

class ConnectionRegistry;
class DeviceLink;
class DM1;

// The programming exchange with one connected module, as the remote access console drives it:
// reading its 800-byte parameter block ("DW"), writing a block back ("UPI", "UPE", the block,
// "UPOK"), restarting it ("RESET") and passing on the editor's commands and the module's
// channel readings.
//
// The exchange talks to one connection object, whatever its row position: only that device's
// data answers it, while the other devices of the slot are decoded and answered as usual.
// Nothing waits on the event loop: every pause and time-out is a single-shot timer. The
// console shows what this class says (information line, buttons, hex text, model name).
class ModuleExchange : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kBlockSize = 800;

    // The times of the exchange; tests shorten them.
    struct Intervals {
        int noAnswerMs = 10000;  // Timer1: "DW" without an answer
        int completionMs = 1000; // Timer2: the end of a block shorter than kBlockSize
        int uploadMs = 15000;    // Timer3: "UPI" without "UPOK"
        int upePauseMs = 3000;   // after "UPE", before the block goes out
    };

    // The console's four action buttons.
    struct Buttons {
        bool acessar = false;  // "Acessar Dados"
        bool enviar = false;   // "Upload"
        bool download = false; // "Download"
        bool resetar = false;  // "Resetar Dispositivo"
        bool operator==(const Buttons &) const = default;
    };

    enum class Phase { Idle, AwaitingBlock, ReceivingBlock, AwaitingUpe, UpePause, AwaitingUpok };

    ModuleExchange(DM1 &dm, ConnectionRegistry &registry, DeviceLink &link,
                   QObject *parent = nullptr);
    ~ModuleExchange() override;

    void setIntervals(const Intervals &intervals);

    // The device of the console: slot and connection. An exchange still running with another
    // device ends without a message.
    void setTarget(int slot, TcpConnection *socket);
    int slot() const { return m_slot; }
    TcpConnection *target() const { return m_target.data(); }
    bool targetConnected() const { return m_target && m_target->connected(); }

    // Sends text unchanged to the console's device; false when it is gone.
    bool Envia_Comando_Gprs(const QByteArray &text);
    // "DW": reads the module's block.
    void startDownload();
    // "UPI" and, after "UPE", the pending upload block.
    void startUpload();
    // "RESET": no answer is awaited.
    void resetDevice();

    // The block the editor produced as it closed; "Upload" is offered for it. Refused (false,
    // nothing kept) while the editor shows a file that is no whole block: uploading what was
    // decoded from it would blank the module's missing fields (server, APN, SMS texts).
    bool setPendingUploadBlock(const QByteArray &raw);
    QByteArray pendingUploadBlock() const { return m_pendingUpload; }
    // A block's hex text opened from a file: it replaces the downloaded one. A file that is
    // not one whole block can be looked at in the editor but is never offered for upload.
    void loadHexText(const QString &hex);
    // Whether the hex text came from a file that is not a whole block.
    bool hexRefusedForUpload() const { return m_refusedFile; }
    // The console opens for a device: no block yet.
    void clearHexText();
    // What "Salvar p/ Arquivo" writes: the block the editor produced since the last download
    // or file (the one an upload would send), else the downloaded or opened block when it is
    // whole. Empty, with the reason in why, when there is no whole block to save.
    QString hexToSave(QString *why = nullptr) const;

    Phase phase() const { return m_phase; }
    QString information() const { return m_information; }
    Buttons buttons() const { return m_buttons; }
    // The block as upper-case hex digits, two per byte.
    QString hexText() const { return m_hex; }
    // The model of the last completed download.
    QString modelName() const { return m_modelName; }
    // The console's timers, for those who watch them.
    const QTimer &noAnswerTimer() const { return m_timer1; }
    const QTimer &completionTimer() const { return m_timer2; }
    const QTimer &uploadTimer() const { return m_timer3; }

signals:
    void informationChanged(const QString &text);
    void buttonsChanged();
    void hexTextChanged(const QString &hex);
    void modelNameChanged(const QString &name);
    // A "#$" channel reading of the console's device, at least 16 bytes.
    void channelReading(const QByteArray &frame);

private:
    void dumpReceived(int k, const QByteArray &payload);
    void completeDownload();
    void noAnswer();
    void uploadAllowed(int k, TcpConnection *socket);
    void sendBlock();
    // A new block (download or file) replaces what the editor produced.
    void newBlockArrived();
    void uploadDone(int k);
    void uploadTimedOut();
    void targetDisconnected();
    void deviceReading(int k, const QByteArray &frame, TcpConnection *socket);
    // Ends whatever runs without a word: timers stopped, the slot's flags cleared.
    void stopExchange();
    void clearAllDumpFlags();
    void clearAllUploadFlags();
    void releaseTransfer();
    void say(const QString &text);
    void setButtons(const Buttons &b);
    void setHex(const QString &hex);

    DM1 &m_dm;
    ConnectionRegistry &m_registry;
    Intervals m_intervals;
    int m_slot = 0;
    QPointer<TcpConnection> m_target;
    QMetaObject::Connection m_targetWatch;
    Phase m_phase = Phase::Idle;
    QTimer m_timer1; // no answer to "DW"
    QTimer m_timer2; // completion of a short block
    QTimer m_timer3; // no "UPOK" after "UPI"
    QTimer m_upePause;
    QElapsedTimer m_upeSince; // the pause counts from "UPE", whenever its timer fires
    QByteArray m_block;       // the block being received
    qsizetype m_surplus = 0;  // bytes past kBlockSize, dropped
    QByteArray m_pendingUpload;
    bool m_pendingIsCurrent = false; // produced by the editor since the last block came
    bool m_refusedFile = false;      // the hex text is a file that is no whole block
    QByteArray m_uploadBlock;        // the block of the upload under way
    QString m_hex;
    QString m_modelName;
    QString m_information = QStringLiteral("Informacao");
    Buttons m_buttons;
};

} // namespace tulmo
