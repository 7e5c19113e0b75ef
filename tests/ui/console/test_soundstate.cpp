#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/common/Paths.h"
#include "ui/console/SoundState.h"
#include "core/events/EventLine.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// Records every call the sound state makes on the platform side; completions are driven by
// the test.
class FakeBackend : public SoundBackend {
public:
    void setFile(const QString &path) override { log << QStringLiteral("file:") + path; }
    bool play() override {
        log << QStringLiteral("play");
        return playOk;
    }
    void stop() override { log << QStringLiteral("stop"); }
    void playOnce(const QString &path) override { log << QStringLiteral("once:") + path; }
    // The player reached the end of its file.
    void terminar() {
        QVERIFY(onFinished);
        onFinished();
    }
    int plays() const { return int(log.count(QStringLiteral("play"))); }

    QStringList log;
    bool playOk = true;
};

struct Som {
    FakeBackend *fake;
    std::unique_ptr<SoundState> sons;
    Som() {
        auto b = std::make_unique<FakeBackend>();
        fake = b.get();
        sons = std::make_unique<SoundState>(std::move(b));
    }
    // The player reached the end of its file and its notice was delivered (it is queued, so
    // the player finishes its own bookkeeping first); timers do not run.
    void completar() {
        fake->terminar();
        QCoreApplication::sendPostedEvents(sons.get(), QEvent::MetaCall);
    }
    // Timer_Sons fires, when it was started.
    void dispararTimer() {
        QVERIFY2(sons->soundTimer()->isActive(), "Timer_Sons was not started");
        sons->Timer_SonsTimer();
    }
};

QString sob(const QString &relativo) {
    return Paths::programDir() + QLatin1Char('/') + relativo;
}

// Reads the header of a PCM WAV file: format, channels, rate, bits and data size.
struct WavHeader {
    bool ok = false;
    quint16 formato = 0, canais = 0, bits = 0;
    quint32 taxa = 0, dados = 0;
};

quint32 le32(const QByteArray &b, int at) {
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 |
           quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}
quint16 le16(const QByteArray &b, int at) {
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

WavHeader lerWav(const QString &path, qint64 *tamanho) {
    WavHeader h;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return h;
    const QByteArray b = f.readAll();
    *tamanho = b.size();
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE") return h;
    if (le32(b, 4) != quint32(b.size() - 8)) return h;
    int at = 12;
    bool temFmt = false;
    while (at + 8 <= b.size()) {
        const QByteArray id = b.mid(at, 4);
        const quint32 len = le32(b, at + 4);
        if (id == "fmt " && len >= 16) {
            h.formato = le16(b, at + 8);
            h.canais = le16(b, at + 10);
            h.taxa = le32(b, at + 12);
            h.bits = le16(b, at + 22);
            temFmt = true;
        } else if (id == "data") {
            h.dados = len;
            h.ok = temFmt && at + 8 + qint64(len) == b.size();
            return h;
        }
        at += 8 + int(len);
    }
    return h;
}

} // namespace

class TestSoundState : public QObject {
    Q_OBJECT
private slots:
    void playerStartsWithTheDefaultFileAndTheIndicatorOn();
    void continuousSoundRepeatsUntilSilenced();
    void silencingCancelsARestartOnItsWay();
    void failedRestartStillDisablesTheTimer();
    void emptyContinuousSoundPlaysNothing();
    void oneShotFallsBackToTheBundledSound();
    void supervisionAlertLeavesTheIndicator();
    void storedWindowsPathsResolveUnderTheProgramFolder();
    void defaultSoundsAreBuiltBesideTheExecutable_data();
    void defaultSoundsAreBuiltBesideTheExecutable();
    void recordedEventsSoundThroughTheSoundState();
    void realBackendIsSilentWithoutFailing();
};

void TestSoundState::playerStartsWithTheDefaultFileAndTheIndicatorOn() {
    Som s;
    QCOMPARE(s.sons->currentFile(), sob("Sons/P8Sound.wav"));
    QCOMPARE(s.fake->log, QStringList{"file:" + sob("Sons/P8Sound.wav")});
    QVERIFY(s.sons->soundOn());
    QVERIFY(!s.sons->soundTimer()->isActive());
    QCOMPARE(s.sons->soundTimer()->interval(), 10);
    QVERIFY(s.sons->soundTimer()->isSingleShot());
}

void TestSoundState::continuousSoundRepeatsUntilSilenced() {
    Som s;
    QSignalSpy indicador(s.sons.get(), &SoundState::indicatorChanged);
    s.sons->Som_LigadoClick(); // start from silence, so that playRepeating visibly switches on
    QCOMPARE(indicador.takeFirst().at(0).toBool(), false);
    s.fake->log.clear();

    s.sons->playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\Alarme.wav"));
    const QString alarme = sob("Sons/Alarme.wav");
    QCOMPARE(s.fake->log, (QStringList{"file:" + alarme, "stop", "play"}));
    QVERIFY(s.sons->soundOn());
    QCOMPARE(indicador.takeFirst().at(0).toBool(), true);
    QCOMPARE(s.sons->currentFile(), alarme);

    // Every completion stops the player and restarts it through Timer_Sons.
    for (int vez = 0; vez < 3; ++vez) {
        s.fake->log.clear();
        s.completar();
        QCOMPARE(s.fake->log, QStringList{"stop"}); // the restart waits for Timer_Sons
        s.dispararTimer();
        QCOMPARE(s.fake->log, (QStringList{"stop", "play"}));
        QVERIFY(!s.sons->soundTimer()->isActive());
        QCOMPARE(s.sons->currentFile(), alarme);
    }

    // The operator silences it: the player stops and a completion no longer repeats.
    s.fake->log.clear();
    s.sons->Som_LigadoClick();
    QVERIFY(!s.sons->soundOn());
    QCOMPARE(indicador.takeFirst().at(0).toBool(), false);
    QCOMPARE(s.fake->log, QStringList{"stop"});
    s.completar();
    QCOMPARE(s.fake->log, QStringList{"stop"});
    QVERIFY(!s.sons->soundTimer()->isActive()); // nothing left that could restart it

    // Switching the indicator back on starts nothing by itself...
    s.sons->Som_DesligadoClick();
    QVERIFY(s.sons->soundOn());
    QCOMPARE(indicador.takeFirst().at(0).toBool(), true);
    QCoreApplication::sendPostedEvents();
    QVERIFY(!s.sons->soundTimer()->isActive());
    QCOMPARE(s.fake->log, QStringList{"stop"});
    QCOMPARE(s.fake->plays(), 0);

    // ...but the next sound that completes repeats again.
    s.fake->log.clear();
    s.completar();
    s.dispararTimer();
    QCOMPARE(s.fake->log, (QStringList{"stop", "play"}));
}

void TestSoundState::silencingCancelsARestartOnItsWay() {
    Som s;
    s.sons->playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\Alarme.wav"));
    s.fake->log.clear();
    s.fake->terminar();
    // Deliver the completion notice alone, without letting timers run.
    QCoreApplication::sendPostedEvents(s.sons.get(), QEvent::MetaCall);
    QVERIFY(s.sons->soundTimer()->isActive());
    QCOMPARE(s.fake->log, QStringList{"stop"});
    s.sons->Som_LigadoClick();
    QVERIFY(!s.sons->soundTimer()->isActive()); // the restart will never come
    QCoreApplication::sendPostedEvents();
    QCOMPARE(s.fake->log, (QStringList{"stop", "stop"}));
}

void TestSoundState::failedRestartStillDisablesTheTimer() {
    Som s;
    s.sons->playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\Alarme.wav"));
    s.fake->playOk = false;
    s.fake->log.clear();
    s.completar();
    s.dispararTimer();
    QCOMPARE(s.fake->plays(), 1);
    QVERIFY(!s.sons->soundTimer()->isActive());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(s.fake->log, (QStringList{"stop", "play"}));
}

void TestSoundState::emptyContinuousSoundPlaysNothing() {
    for (bool soundOn : {true, false}) {
        Som s;
        if (!soundOn) s.sons->Som_LigadoClick();
        QSignalSpy indicador(s.sons.get(), &SoundState::indicatorChanged);
        s.fake->log.clear();
        s.sons->playRepeating(QString());
        s.sons->playRepeating(QStringLiteral("  "));
        QVERIFY(s.fake->log.isEmpty());
        QCOMPARE(s.sons->soundOn(), soundOn);
        QCOMPARE(indicador.count(), 0);
    }
}

void TestSoundState::oneShotFallsBackToTheBundledSound() {
    Som s;
    s.sons->Som_LigadoClick();
    QSignalSpy indicador(s.sons.get(), &SoundState::indicatorChanged);
    s.fake->log.clear();
    const QString padrao = sob("Sons/P8Sound.wav");
    QCOMPARE(SoundState::defaultSound(), padrao);

    s.sons->playOnce(QString());
    s.sons->playOnce(QStringLiteral("C:\\Tulmo\\Sons\\NaoExiste.wav"));
    s.sons->playOnce(QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav"));
    QCOMPARE(s.fake->log,
             (QStringList{"once:" + padrao, "once:" + padrao, "once:" + sob("Sons/P1Sound.wav")}));
    // The player and the indicator are not used by one-shot sounds.
    QCOMPARE(s.sons->currentFile(), padrao);
    QVERIFY(!s.sons->soundOn());
    QCOMPARE(indicador.count(), 0);
}

void TestSoundState::supervisionAlertLeavesTheIndicator() {
    Som s;
    s.sons->Som_LigadoClick();
    s.fake->log.clear();
    s.sons->playAlert(QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav"));
    QCOMPARE(s.fake->log, (QStringList{"file:" + sob("Sons/P1Sound.wav"), "stop", "play"}));
    QVERIFY(!s.sons->soundOn());
    // Silenced, it plays once; the caller switches the indicator on to make it repeat.
    s.fake->log.clear();
    s.completar();
    QVERIFY(s.fake->log.isEmpty());
    QVERIFY(!s.sons->soundTimer()->isActive());
    s.sons->Som_DesligadoClick();
    s.completar();
    s.dispararTimer();
    QCOMPARE(s.fake->log, (QStringList{"stop", "play"}));
}

void TestSoundState::storedWindowsPathsResolveUnderTheProgramFolder() {
    const QString pasta = QCoreApplication::applicationDirPath();
    QCOMPARE(Paths::programDir(), pasta);
    QCOMPARE(Paths::resolveStoredPath(QStringLiteral("C:\\Tulmo\\Sons\\x.wav")),
             pasta + "/Sons/x.wav");
    QCOMPARE(Paths::resolveStoredPath(QStringLiteral("c:\\TULMO\\Sons\\Sub\\y.wav")),
             pasta + "/Sons/Sub/y.wav");

    // A test folder as program folder: the player's paths follow it.
    QTemporaryDir dir;
    Paths::setProgramDir(dir.path());
    Som s;
    QCOMPARE(s.sons->currentFile(), dir.path() + "/Sons/P8Sound.wav");
    s.fake->log.clear();
    s.sons->playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\x.wav"));
    s.sons->playOnce(QStringLiteral("C:\\Tulmo\\Sons\\x.wav")); // missing there: the default
    Paths::setProgramDir(QString());
    QCOMPARE(s.fake->log, (QStringList{"file:" + dir.path() + "/Sons/x.wav", "stop", "play",
                                       "once:" + dir.path() + "/Sons/P8Sound.wav"}));
}

void TestSoundState::defaultSoundsAreBuiltBesideTheExecutable_data() {
    QTest::addColumn<QString>("arquivo");
    QTest::newRow("rearme") << QStringLiteral("P1Sound.wav");
    QTest::newRow("evento") << QStringLiteral("P8Sound.wav");
}

void TestSoundState::defaultSoundsAreBuiltBesideTheExecutable() {
    QFETCH(QString, arquivo);
    const QString path = QCoreApplication::applicationDirPath() + "/Sons/" + arquivo;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    qint64 tamanho = 0;
    const WavHeader h = lerWav(path, &tamanho);
    QVERIFY2(h.ok, "RIFF/WAVE with fmt and data chunks that fill the file");
    QCOMPARE(h.formato, quint16(1)); // PCM
    QVERIFY(h.canais == 1 || h.canais == 2);
    QVERIFY(h.bits == 8 || h.bits == 16);
    QVERIFY(h.taxa >= 8000 && h.taxa <= 48000);
    // Long enough to be heard, short enough to repeat briskly.
    const double segundos = double(h.dados) / (h.taxa * h.canais * (h.bits / 8));
    QVERIFY2(segundos >= 0.1 && segundos <= 3.0, qPrintable(QString::number(segundos)));
}

// The recorder decides which call to make; the sound state does the rest.
void TestSoundState::recordedEventsSoundThroughTheSoundState() {
    QTemporaryDir dir;
    ManualClock clock(QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0)));
    ScriptedPrompt prompt;
    auto b = std::make_unique<FakeBackend>();
    FakeBackend *fake = b.get();
    SoundState sons(std::move(b));
    ConsoleCore core(dir.path(), clock, &prompt, &sons);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    QSqlDatabase db = core.database().primary();
    auto codigo = [&](const QString &c, const QString &som, int continuo) {
        exec(db,
             "update or insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
             "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) values (:c, 'TESTE', "
             "2, 1, 2, :s, :sc, 0) matching (CODIGO_EVENTO)",
             {{":c", c}, {":s", som}, {":sc", continuo}});
    };
    auto grava = [&](const QString &c) {
        const QString l =
            eventline::build("01", "1", "1234", "1", c, "003", "05/03/09", "14:02:11", {});
        return core.recorder().Grava_Evento_Banco_Dados(l).status;
    };
    codigo("1130", QString(), 1);
    codigo("1131", QString(), 0);
    codigo("1132", QStringLiteral("C:\\Tulmo\\Sons\\Alarme.wav"), 1);

    // Continuous with no file: nothing at all, the indicator as it was.
    for (bool soundOn : {false, true}) {
        if (soundOn)
            sons.Som_DesligadoClick();
        else
            sons.Som_LigadoClick();
        QSignalSpy indicador(&sons, &SoundState::indicatorChanged);
        fake->log.clear();
        QCOMPARE(grava("1130"), RecordResult::Status::Stored);
        QCOMPARE(fake->log, QStringList());
        QCOMPARE(sons.soundOn(), soundOn);
        QCOMPARE(indicador.count(), 0);
    }

    // Not continuous, no file: the one-shot call still happens, with the bundled sound.
    sons.Som_LigadoClick();
    fake->log.clear();
    QCOMPARE(grava("1131"), RecordResult::Status::Stored);
    QCOMPARE(fake->log, (QStringList{"once:" + SoundState::defaultSound()}));
    QVERIFY(!sons.soundOn());

    // Continuous with a file: the indicator comes on and the sound repeats.
    fake->log.clear();
    QCOMPARE(grava("1132"), RecordResult::Status::Stored);
    QCOMPARE(fake->log, (QStringList{"file:" + sob("Sons/Alarme.wav"), "stop", "play"}));
    QVERIFY(sons.soundOn());
    // A routine event while it sounds: its one-shot plays beside, the alarm goes on.
    fake->log.clear();
    QCOMPARE(grava("1131"), RecordResult::Status::Stored);
    QCOMPARE(fake->log, (QStringList{"once:" + SoundState::defaultSound()}));
    QVERIFY(sons.soundOn());
    fake->log.clear();
    fake->terminar();
    QCoreApplication::sendPostedEvents(&sons, QEvent::MetaCall);
    QVERIFY(sons.soundTimer()->isActive());
    sons.Timer_SonsTimer();
    QCOMPARE(fake->log, (QStringList{"stop", "play"}));
    sons.Som_LigadoClick();
    core.shutdown();
}

// The Qt Multimedia side on this machine, whatever its audio: calls return, nothing crashes,
// and a machine without sound says so at most once, not at every event.
namespace {
int g_mensagens = 0;
QtMessageHandler g_anterior = nullptr;
void contarMensagens(QtMsgType tipo, const QMessageLogContext &ctx, const QString &text) {
    ++g_mensagens;
    if (g_anterior) g_anterior(tipo, ctx, text);
}
} // namespace

void TestSoundState::realBackendIsSilentWithoutFailing() {
    SoundState sons;
    sons.playOnce(QString());
    sons.playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav"));
    // The real player loads and plays on its own threads: there is no clock to drive, so the
    // test lets it run a moment.
    QTest::qWait(100);
    sons.Som_LigadoClick();

    g_mensagens = 0;
    g_anterior = qInstallMessageHandler(contarMensagens);
    for (int evento = 0; evento < 10; ++evento) {
        sons.stopPlayer();
        sons.playOnce(QString());
        sons.playOnce(QStringLiteral("C:\\Tulmo\\Sons\\NaoExiste.wav"));
        sons.playRepeating(QStringLiteral("C:\\Tulmo\\Sons\\NaoExiste.wav"));
        sons.playAlert(QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav"));
        sons.Som_LigadoClick();
    }
    QTest::qWait(100);
    sons.stopPlayer();
    qInstallMessageHandler(g_anterior);
    QCOMPARE(g_mensagens, 0);
    QVERIFY(!sons.soundOn());
    QCOMPARE(sons.currentFile(), sob("Sons/P1Sound.wav"));
}

QTEST_MAIN(TestSoundState)
#include "test_soundstate.moc"
