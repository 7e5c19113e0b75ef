#include "support/TestSupport.h"

#include "core/modules/ModuleExchange.h"
#include "core/reception/ConnectionRegistry.h"
#include "core/reception/Data_Modulo2.h"
#include "core/reception/DeviceLink.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(10, 0, 0));
// A receiver frame in format 5 for account 0042, ended as devices end it.
const QByteArray kEvento5 = "5011 180042E13001003\x14";

using Device = LoopbackDevice;

// A block of a given model whose bytes run through every value, 0x00 and 0x0D included.
QByteArray bloco(int modelo, qsizetype size = ModuleExchange::kBlockSize) {
    QByteArray b(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char((i * 7 + 3) % 256);
    if (size > 2) b[2] = char(modelo);
    return b;
}

// Slot 1 on TCP with two identified devices: the console's (row 0) and another one.
struct Bancada : Station {
    Device alvo, outro;
    QPointer<TcpConnection> alvoCon, outroCon;
    std::unique_ptr<ModuleExchange> troca;

    explicit Bancada(const ModuleExchange::Intervals &tempos = {400, 300, 1500, 300})
        : Station(kInicio) {
        mapPort(core->dataDir(), 1, dir.path() + "/sem-porta");
        const quint16 port = freePort();
        ReceiverRow::tcp(1, port, 0, 5).insertInto(db());
        core->dm().Realizar_Atualizacoes();
        identifica(alvo, port, "111111");
        identifica(outro, port, "222222");
        troca = std::make_unique<ModuleExchange>(core->dm(), core->connectionRegistry(),
                                                 core->deviceLink());
        troca->setIntervals(tempos);
        alvoCon = core->connectionRegistry().row(0).socket;
        outroCon = core->connectionRegistry().row(1).socket;
        troca->setTarget(1, alvoCon);
    }
    void identifica(Device &d, quint16 port, const QByteArray &id) {
        GprsRow(QString::fromLatin1(id))
            .account("0042")
            .status("A")
            .date(kInicio)
            .blocked(0)
            .insertInto(db());
        d.s.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(d.recv() == "&");
        d.send("&01" + id + "0042");
        QCOMPARE(d.recv(), QByteArray("+")); // the slot answers at once
        tick();
    }
    void tick() {
        clock.advanceSecs(1);
        tickAndSettle(*core);
    }
    // Another device's event goes on being queued, recorded and answered during an exchange.
    void outroAtendido() {
        const int gravados = eventCount();
        const qsizetype antes = core->eventQueue().size();
        outro.send(kEvento5);
        QVERIFY(waitFor([&] { return core->eventQueue().size() == antes + 1; }));
        tick();
        QCOMPARE(outro.recv(), QByteArray("+OK"));
        QVERIFY(waitFor([&] { return eventCount() > gravados; }));
    }
    ReceiverSlot &slot() { return core->dm().slot(1); }
    // Which of "Acessar Dados", "Upload", "Download", "Resetar Dispositivo" are offered.
    QString botoes() {
        const ModuleExchange::Buttons b = troca->buttons();
        QString s;
        for (bool on : {b.acessar, b.enviar, b.download, b.resetar})
            s += on ? '1' : '0';
        return s;
    }
};

} // namespace

class TestModuleExchange : public QObject {
    Q_OBJECT
private slots:
    void downloadGathersTheBlockWhileOthersAreServed();
    void shortLongAndSilentDownloads();
    void uploadPausesWithoutHoldingReception();
    void upeFollowedByJunkWaitsForTheTimeout();
    void disconnectionEndsTheExchange();
    void pauseAfterUpeIsNeverShort();
    void onlyAWholeBlockIsUploadedOrSaved();
    void programmingTrafficKeepsTheRowAlive();
};

void TestModuleExchange::downloadGathersTheBlockWhileOthersAreServed() {
    // The other device is served between the two reads: the block waits for it.
    Bancada b({400, 5000, 1500, 300});
    // The device's event frame still waiting for its end is handed on, not taken as the block.
    b.alvo.send(kEvento5.chopped(1));
    QVERIFY(
        waitFor([&] { return b.core->connectionRegistry().frames().heldBytes(b.alvoCon) > 0; }));
    const qsizetype naFila = b.core->eventQueue().size();
    QSignalSpy info(b.troca.get(), &ModuleExchange::informationChanged);
    b.troca->startDownload();
    QCOMPARE(b.core->eventQueue().size(), naFila + 1);
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    QCOMPARE(info.takeFirst().at(0).toString(), QString("Enviando comando de leitura..."));
    QCOMPARE(b.botoes(), QString("0000"));
    QCOMPARE(b.slot().dumpPending, quint8(1));

    const QByteArray block = bloco(2);
    b.alvo.send(block.left(500));
    QVERIFY(waitFor([&] { return b.troca->hexText().size() == 1000; }));
    QCOMPARE(b.troca->information(), QString("Recebendo dados..."));
    b.outroAtendido();
    QCOMPARE(b.alvo.recv(3), QByteArray("+OK")); // its own event, handed on before "DW"
    b.alvo.send(block.mid(500));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->hexText(), QString::fromLatin1(block.toHex().toUpper()));
    QCOMPARE(b.troca->information(), QString("Dados Recebidos.800 Bytes"));
    QCOMPARE(b.troca->modelName(), QString("QVN-12 Universal"));
    QCOMPARE(b.botoes(), QString("1011"));
    QCOMPARE(b.slot().dumpPending, quint8(0));
    QVERIFY(!b.troca->completionTimer().isActive());
    // The capture is over: the device's events are its own again.
    const qsizetype antes = b.core->eventQueue().size();
    b.alvo.send(kEvento5);
    QVERIFY(waitFor([&] { return b.core->eventQueue().size() == antes + 1; }));
    QCOMPARE(b.alvo.recv(3), QByteArray("+OK")); // the slot answers at once
    QCOMPARE(b.troca->hexText().size(), 1600);

    // Channel readings reach the editor from the console's device only, and whole.
    QSignalSpy leituras(b.troca.get(), &ModuleExchange::channelReading);
    const QByteArray leitura = "#$" + QByteArray(12, char(250)) + "\x81" + "@";
    b.outro.send(leitura);
    b.alvo.send(leitura.left(15));
    QVERIFY(!leituras.wait(300));
    b.alvo.send(leitura);
    QVERIFY(leituras.wait(1000));
    QCOMPARE(leituras.count(), 1);
    QCOMPARE(leituras.first().at(0).toByteArray(), leitura);
    QVERIFY(b.troca->Envia_Comando_Gprs("#$1234D"));
    QCOMPARE(b.alvo.recv(7), QByteArray("#$1234D"));
    QVERIFY(b.outro.silent(50));
}

void TestModuleExchange::shortLongAndSilentDownloads() {
    Bancada b;
    // Fewer bytes: taken as they are once the completion time passed.
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    b.alvo.send(bloco(13, 300));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->information(), QString("Dados Recebidos.300 Bytes"));
    QCOMPARE(b.troca->modelName(), QString("LX-ORB1"));

    // More than a block in one read: the first 800 bytes are kept, and the operator is told.
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    const QByteArray longo = bloco(3, 810);
    b.core->deviceLink().Decodifica_TCP(longo, b.troca->target(), 1);
    QCOMPARE(b.troca->information(),
             QString("Dados Recebidos.800 Bytes (10 bytes além de 800 descartados)"));
    QCOMPARE(b.troca->hexText(), QString::fromLatin1(longo.left(800).toHex().toUpper()));
    QCOMPARE(b.troca->modelName(), QString("QVN-8 Universal"));

    // No answer: only "Download" is offered again, and no slot is left waiting.
    b.core->dm().slot(7).dumpPending = 1;
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->information(), QString("Equipamento GPRS não responde!"));
    QCOMPARE(b.botoes(), QString("0010"));
    for (int k = 1; k <= DM1::kSlots; ++k)
        QCOMPARE(b.core->dm().slot(k).dumpPending, quint8(0));
    // What comes late is the device's own traffic.
    const qsizetype antes = b.core->eventQueue().size();
    b.alvo.send(kEvento5);
    QVERIFY(waitFor([&] { return b.core->eventQueue().size() == antes + 1; }));
    QCOMPARE(b.troca->modelName(), QString("QVN-8 Universal"));
}

void TestModuleExchange::uploadPausesWithoutHoldingReception() {
    Bancada b({400, 300, 5000, 1000});
    const QByteArray block = bloco(1);
    QCOMPARE(b.botoes(), QString("0000"));
    b.troca->setPendingUploadBlock(block);
    QCOMPARE(b.botoes(), QString("0100"));
    b.troca->startUpload();
    QCOMPARE(b.alvo.recv(3), QByteArray("UPI"));
    QCOMPARE(b.troca->information(), QString("Enviando comando de gravação..."));
    QCOMPARE(b.botoes(), QString("0000"));
    QCOMPARE(b.slot().uploadPending, quint8(1));
    QVERIFY(b.troca->uploadTimer().isActive());

    b.alvo.send("UPE");
    QVERIFY(waitFor([&] { return b.troca->information() == "Enviando dados..."; }));
    QElapsedTimer pausa;
    pausa.start();
    // The pause before the block leaves the event loop free for the other devices.
    b.outroAtendido();
    QVERIFY(b.alvo.silent(20));
    QCOMPARE(b.alvo.recv(800), block);
    QVERIFY(pausa.elapsed() >= 900);
    b.alvo.send("UPOK");
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->information(), QString("Dados enviados com sucesso!"));
    // The module can be read back at once to check what it now holds.
    QCOMPARE(b.botoes(), QString("0110"));
    QCOMPARE(b.slot().uploadPending, quint8(0));
    QVERIFY(!b.troca->uploadTimer().isActive());
}

void TestModuleExchange::upeFollowedByJunkWaitsForTheTimeout() {
    Bancada b({400, 300, 4000, 300});
    b.troca->setPendingUploadBlock(bloco(1));
    b.troca->startUpload();
    QCOMPARE(b.alvo.recv(3), QByteArray("UPI"));
    b.alvo.send("UPE");
    QCOMPARE(b.alvo.recv(800).size(), 800);
    const qsizetype antes = b.core->eventQueue().size();
    b.alvo.send("UPOKX");
    QVERIFY(!waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }, 300));
    b.alvo.send(kEvento5); // from the device in the middle of its upload: not an event
    QVERIFY(!waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }, 300));
    QCOMPARE(b.troca->information(), QString("Enviando dados..."));
    QCOMPARE(b.slot().uploadPending, quint8(1));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }, 8000));
    QCOMPARE(b.troca->information(), QString("Equipamento GPRS não responde!"));
    QCOMPARE(b.botoes(), QString("0110"));
    QCOMPARE(b.slot().uploadPending, quint8(0));
    QCOMPARE(b.core->eventQueue().size(), antes);
}

void TestModuleExchange::disconnectionEndsTheExchange() {
    Bancada b({400, 5000, 5000, 300});
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    b.alvo.send(bloco(2, 400));
    QVERIFY(waitFor([&] { return b.troca->hexText().size() == 800; }));
    b.alvo.s.abort();
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->information(), QString("Equipamento desconectado!"));
    QCOMPARE(b.troca->hexText(), QString());
    QCOMPARE(b.botoes(), QString("0000"));
    QCOMPARE(b.slot().dumpPending, quint8(0));
    QVERIFY(!b.troca->completionTimer().isActive());
    b.outroAtendido();
    // Nothing more can be asked of a device that is gone.
    b.troca->setPendingUploadBlock(bloco(1));
    QCOMPARE(b.botoes(), QString("0000"));
    b.troca->startDownload();
    QCOMPARE(b.slot().dumpPending, quint8(0));
    QCOMPARE(b.troca->information(), QString("Equipamento desconectado!"));

    // In the middle of an upload, the same.
    b.troca->setTarget(1, b.outroCon);
    b.troca->setPendingUploadBlock(bloco(1));
    b.troca->startUpload();
    QCOMPARE(b.outro.recv(3), QByteArray("UPI"));
    b.outro.send("UPE");
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::UpePause; }));
    b.outro.s.abort();
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->information(), QString("Equipamento desconectado!"));
    QCOMPARE(b.slot().uploadPending, quint8(0));
    QVERIFY(!b.troca->uploadTimer().isActive());
    QCOMPARE(b.botoes(), QString("0000"));
}

void TestModuleExchange::pauseAfterUpeIsNeverShort() {
    // The real pause. A coarse timer of 3 s started just after a whole second of the monotonic
    // clock rounds down to that second and ends up to 150 ms early: "UPE" is sent so that it
    // arrives there, and the pause is measured on the same clock.
    Bancada b({400, 300, 8000, 3000});
    b.troca->setPendingUploadBlock(bloco(1));
    QElapsedTimer desde;
    connect(b.troca.get(), &ModuleExchange::informationChanged, b.troca.get(),
            [&](const QString &t) {
                if (t == "Enviando dados...") desde.start();
            });
    for (int vez = 0; vez < 2; ++vez) {
        b.troca->startUpload();
        QCOMPARE(b.alvo.recv(3), QByteArray("UPI"));
        QVERIFY(waitFor(
            [] {
                QElapsedTimer ahora;
                ahora.start();
                const qint64 ms = ahora.msecsSinceReference() % 1000;
                return ms >= 15 && ms < 40;
            },
            2000));
        b.alvo.send("UPE");
        QCOMPARE(b.alvo.recv(800, 5000).size(), 800);
        const qint64 pausa = desde.elapsed();
        QVERIFY2(pausa >= 3000, qPrintable(QString::number(pausa)));
        QVERIFY2(pausa < 3600, qPrintable(QString::number(pausa)));
        b.alvo.send("UPOK");
        QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    }
}

void TestModuleExchange::onlyAWholeBlockIsUploadedOrSaved() {
    Bancada b;
    QString why;
    // Nothing downloaded yet: nothing to save, and the operator is told why.
    QCOMPARE(b.troca->hexToSave(&why), QString());
    QVERIFY(why.startsWith("Nenhum bloco de parâmetros"));
    // A failed download saves no empty block either.
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(b.troca->hexToSave(), QString());

    const QByteArray baixado = bloco(2);
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    b.alvo.send(baixado);
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    const QString hexBaixado = QString::fromLatin1(baixado.toHex().toUpper());
    QCOMPARE(b.troca->hexToSave(), hexBaixado);
    // Once the editor closed, its block is the one saved: the one an upload sends.
    QByteArray editado = baixado;
    editado[17] = 'X';
    QVERIFY(b.troca->setPendingUploadBlock(editado));
    QCOMPARE(b.troca->hexToSave(), QString::fromLatin1(editado.toHex().toUpper()));

    // A file with a bad digit at position 1001 may be looked at, never uploaded nor saved.
    QString ruim = hexBaixado;
    ruim[1000] = 'G';
    b.troca->loadHexText(ruim);
    QVERIFY(b.troca->hexRefusedForUpload());
    QCOMPARE(b.botoes(), QString("1011"));
    QVERIFY(!b.troca->setPendingUploadBlock(bloco(1))); // the editor closed over it
    QCOMPARE(b.botoes(), QString("1011"));
    QVERIFY(b.troca->pendingUploadBlock().isEmpty());
    b.troca->startUpload();
    QVERIFY(b.alvo.silent(100));
    QCOMPARE(b.troca->phase(), ModuleExchange::Phase::Idle);
    QCOMPARE(b.troca->hexToSave(&why), QString());
    QVERIFY(why.startsWith("O arquivo aberto não contém um bloco"));
    // A short file too.
    b.troca->loadHexText(hexBaixado.left(1200));
    QVERIFY(!b.troca->setPendingUploadBlock(bloco(1)));
    QCOMPARE(b.troca->hexToSave(), QString());
    // A whole block from a file is offered once the editor has closed over it.
    b.troca->loadHexText(hexBaixado);
    QVERIFY(!b.troca->hexRefusedForUpload());
    QCOMPARE(b.botoes(), QString("1011"));
    QCOMPARE(b.troca->hexToSave(), hexBaixado);
    QVERIFY(b.troca->setPendingUploadBlock(editado));
    QCOMPARE(b.botoes(), QString("1111"));
    b.troca->startUpload();
    QCOMPARE(b.alvo.recv(3), QByteArray("UPI"));
}

void TestModuleExchange::programmingTrafficKeepsTheRowAlive() {
    Bancada b({400, 300, 5000, 100});
    auto vivo = [&] { return b.core->connectionRegistry().row(0).keepAlive; };
    b.troca->startDownload();
    QCOMPARE(b.alvo.recv(2), QByteArray("DW"));
    b.clock.advanceSecs(200);
    b.alvo.send(bloco(1, 400));
    QVERIFY(waitFor([&] { return b.troca->hexText().size() == 800; }));
    QCOMPARE(vivo(), b.clock.now());
    b.clock.advanceSecs(200);
    b.alvo.send(bloco(1).mid(400));
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(vivo(), b.clock.now());
    b.troca->setPendingUploadBlock(bloco(1));
    b.troca->startUpload();
    QCOMPARE(b.alvo.recv(3), QByteArray("UPI"));
    b.clock.advanceSecs(200);
    b.alvo.send("UPE");
    QCOMPARE(b.alvo.recv(800).size(), 800);
    QCOMPARE(vivo(), b.clock.now());
    b.clock.advanceSecs(200);
    b.alvo.send("UPOK");
    QVERIFY(waitFor([&] { return b.troca->phase() == ModuleExchange::Phase::Idle; }));
    QCOMPARE(vivo(), b.clock.now());
    // Past the keep-alive of the other device, which said nothing: only it is dropped.
    b.clock.advanceSecs(1);
    tickAndSettle(*b.core);
    QCOMPARE(b.core->connectionRegistry().rowCount(), 1);
    QCOMPARE(b.core->connectionRegistry().row(0).socket.data(), b.alvoCon.data());
}

int main(int argc, char **argv) {
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", locks.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestModuleExchange t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_moduleexchange.moc"
