#include "support/TestSupport.h"

#include "core/common/Paths.h"
#include "core/common/TextCodec.h"
#include "core/settings/ConfigIni.h"
#include "core/settings/IniFile.h"
#include "core/settings/LiveSettings.h"
#include "core/store/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// A console started on a program folder whose Dados/Config.ini holds bytes.
struct Inicio {
    QTemporaryDir dir;
    ManualClock clock{QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0))};
    ScriptedPrompt prompt;
    RecordingSound sound;
    std::unique_ptr<ConsoleCore> core;

    explicit Inicio(const QByteArray &config = QByteArray()) {
        QDir().mkpath(dir.path() + "/Dados");
        if (!config.isNull()) {
            // An installation in use: its database is there beside the file.
            Database database(dir.path() + "/Dados/TULMO.FDB");
            QString error;
            if (!database.open(&error)) qFatal("cannot create the database: %s", qPrintable(error));
            QFile f(dir.path() + "/Dados/Config.ini");
            if (!f.open(QIODevice::WriteOnly) || f.write(config) != config.size())
                qFatal("cannot write Config.ini");
        }
        core = std::make_unique<ConsoleCore>(dir.path(), clock, &prompt, &sound);
        QString error;
        if (!core->start(&error)) qFatal("start-up failed: %s", qPrintable(error));
    }
    LiveSettings &s() { return core->settings(); }
    QString config() const { return dir.path() + "/Dados/Config.ini"; }
};

QByteArray ler(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void escrever(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestConfigIni : public QObject {
    Q_OBJECT
private slots:
    void freshInstallationReadsDefaults();
    void windowsFileReadsEveryValue();
    void writtenFileReadsBackTheSame();
    void multiLineBodySurvivesSaveAndRestart();
    void bodyEncodingKeepsBackslashesAndBreaks();
    void repeaterNumbersKeepFiveWhenUnreadable();
    void cancelRereadsTheTextsButNotThePassword();
    void singleLineValuesCannotOpenASection();
    void fileThatIsNoRegularFileIsToldAndNeverReplaced();
};

void TestConfigIni::freshInstallationReadsDefaults() {
    Inicio t;
    QVERIFY(!QFile::exists(t.config()));
    QCOMPARE(t.s().rearmSound(), QString("C:\\Tulmo\\Sons\\P1Sound.wav"));
    Paths::setProgramDir(t.dir.path());
    QCOMPARE(Paths::resolveStoredPath(t.s().rearmSound()), t.dir.path() + "/Sons/P1Sound.wav");
    Paths::setProgramDir(QString());
    QVERIFY(t.s().defaultMailClient());
    for (const QString &v : {t.s().companyName(), t.s().mailSenderName(), t.s().usuario(), t.s().senha(),
                             t.s().mailAddress(), t.s().carbonCopy(), t.s().smtp(),
                             t.s().mailPort(), t.s().mailBody()})
        QCOMPARE(v, QString("Erro"));
    QCOMPARE(t.s().retryInterval(), 5);
    QCOMPARE(t.s().repeaterAttempts(), 5);
    QCOMPARE(t.s().eventTimeSource(), LiveSettings::EventTimeSource::FromComputer);
    // Reading creates nothing.
    QVERIFY(!QFile::exists(t.config()));
}

void TestConfigIni::windowsFileReadsEveryValue() {
    // As the Windows version leaves it: Windows-1252, CR LF, keys in its own case.
    const QByteArray bytes = "[Sons]\r\n"
                             "SomRearme=C:\\Tulmo\\Sons\\Sirene Longa.wav\r\n"
                             "[Empresa]\r\n"
                             "CorreioPadrao=0\r\n"
                             "NomeEmpresa=Vigil\xE2ncia S\xE3o Jo\xE3o\r\n"
                             "NomeEmail=Central de Opera\xE7\xF5"
                             "es\r\n"
                             "EnderecoEmail=central@vigilancia.com.br\r\n"
                             "CopiaCarbono=gerente@vigilancia.com.br\r\n"
                             "SMTP=smtp.vigilancia.com.br\r\n"
                             "usuario=central\r\n"
                             "Senha=s3nh@\\x\r\n"
                             "Porta=587\r\n"
                             "CorpoEmail=Segue o relat\xF3rio em C:\\Relatorios\\Mar\xE7o\r\n"
                             "[Repetidora]\r\n"
                             "TempoTentativas=12\r\n"
                             "TentativasRepetidora=3\r\n"
                             "[Portas]\r\n"
                             "COM2=/dev/ttyUSB0\r\n";
    Inicio t(bytes);
    QCOMPARE(t.s().rearmSound(), QString("C:\\Tulmo\\Sons\\Sirene Longa.wav"));
    QVERIFY(!t.s().defaultMailClient());
    QCOMPARE(t.s().companyName(), QString("Vigilância São João"));
    QCOMPARE(t.s().mailSenderName(), QString("Central de Operações"));
    QCOMPARE(t.s().mailAddress(), QString("central@vigilancia.com.br"));
    QCOMPARE(t.s().carbonCopy(), QString("gerente@vigilancia.com.br"));
    QCOMPARE(t.s().smtp(), QString("smtp.vigilancia.com.br"));
    QCOMPARE(t.s().usuario(), QString("central"));
    QCOMPARE(t.s().senha(), QString("s3nh@\\x"));
    QCOMPARE(t.s().mailPort(), QString("587"));
    QCOMPARE(t.s().mailBody(), QString("Segue o relatório em C:\\Relatorios\\Março"));
    QCOMPARE(t.s().retryInterval(), 12);
    QCOMPARE(t.s().repeaterAttempts(), 3);
    QCOMPARE(serialDeviceFor("COM2", t.config()), QString("/dev/ttyUSB0"));
    // The repeater follows the file's numbers.
    QCOMPARE(t.core->repeater().attempts(), 3);
    QCOMPARE(t.core->repeater().intervalSeconds(), 12);
}

void TestConfigIni::writtenFileReadsBackTheSame() {
    Inicio t;
    LiveSettings &s = t.s();
    s.setRearmSound("C:\\Tulmo\\Sons\\P8Sound.wav");
    s.setDefaultMailClient(false);
    s.setCompanyName("Vigilância São João");
    s.setMailSenderName("Central");
    s.setMailAddress("central@vigilancia.com.br");
    s.setCarbonCopy("cc@vigilancia.com.br");
    s.setSmtp("smtp.vigilancia.com.br");
    s.setUser("central");
    s.setPassword("segredo");
    s.setMailPort("465");
    s.setMailBody("Prezados");
    s.setRetryInterval(9);
    s.setRepeaterAttempts(2);
    const ConfigIni config(t.config());
    QVERIFY(config.saveOptions(s));
    QVERIFY(config.saveRepeater(s));

    // The keys in the order they were written, one CR LF line each.
    const QByteArray esperado = "[Sons]\r\n"
                                "SomRearme=C:\\Tulmo\\Sons\\P8Sound.wav\r\n"
                                "[Empresa]\r\n"
                                "CorreioPadrao=0\r\n"
                                "NomeEmpresa=Vigil\xC3\xA2ncia S\xC3\xA3o Jo\xC3\xA3o\r\n"
                                "NomeEmail=Central\r\n"
                                "EnderecoEmail=central@vigilancia.com.br\r\n"
                                "CopiaCarbono=cc@vigilancia.com.br\r\n"
                                "SMTP=smtp.vigilancia.com.br\r\n"
                                "Usuario=central\r\n"
                                "Senha=segredo\r\n"
                                "Porta=465\r\n"
                                "CorpoEmail=Prezados\r\n"
                                "[Repetidora]\r\n"
                                "TempoTentativas=9\r\n"
                                "TentativasRepetidora=2\r\n";
    QCOMPARE(ler(t.config()), esperado);

    LiveSettings lido;
    config.readRepeater(lido);
    config.readSoundAndCompany(lido);
    QCOMPARE(lido.rearmSound(), s.rearmSound());
    QCOMPARE(lido.defaultMailClient(), false);
    QCOMPARE(lido.companyName(), s.companyName());
    QCOMPARE(lido.mailSenderName(), s.mailSenderName());
    QCOMPARE(lido.mailAddress(), s.mailAddress());
    QCOMPARE(lido.carbonCopy(), s.carbonCopy());
    QCOMPARE(lido.smtp(), s.smtp());
    QCOMPARE(lido.usuario(), s.usuario());
    QCOMPARE(lido.senha(), s.senha());
    QCOMPARE(lido.mailPort(), s.mailPort());
    QCOMPARE(lido.mailBody(), s.mailBody());
    QCOMPARE(lido.retryInterval(), 9);
    QCOMPARE(lido.repeaterAttempts(), 2);

    // Writing again over the file keeps one line per key, and other sections as they were.
    mapPort(t.dir.path() + "/Dados", 3, "/dev/ttyACM0");
    s.setDefaultMailClient(true);
    QVERIFY(config.saveOptions(s));
    const QString text = decodeWindowsText(ler(t.config()));
    QCOMPARE(text.count("CorreioPadrao="), 1);
    QVERIFY(text.contains("CorreioPadrao=1\r\n"));
    QCOMPARE(serialDeviceFor("COM3", t.config()), QString("/dev/ttyACM0"));
}

void TestConfigIni::multiLineBodySurvivesSaveAndRestart() {
    const QString corpo = "Prezado cliente,\n\nSegue o relatório de eventos.\r\nAtenciosamente,\n"
                          "Central São João";
    {
        Inicio t;
        t.s().setMailBody(corpo);
        QVERIFY(ConfigIni(t.config()).saveOptions(t.s()));
        // One line in the file, the breaks readable as text.
        const QString text = decodeWindowsText(ler(t.config()));
        QVERIFY(text.contains("CorpoEmail=Prezado cliente,\\n\\nSegue o relatório de eventos.\\n"
                               "Atenciosamente,\\nCentral São João\r\n"));
        QCOMPARE(IniFile(t.config()).readString("Empresa", "Senha", "x"), QString("Erro"));
        // A new start of the console on that file.
        const QByteArray bytes = ler(t.config());
        Inicio depois(bytes);
        QString esperado = corpo;
        esperado.replace("\r\n", "\n");
        QCOMPARE(depois.s().mailBody(), esperado);
        QCOMPARE(depois.s().companyName(), QString("Erro"));
    }
}

void TestConfigIni::bodyEncodingKeepsBackslashesAndBreaks() {
    const QStringList casos = {
        "linha\\n literal",          // a backslash before "n" is not a break
        "termina em barra\\\nsegue", // a backslash right before a break
        "C:\\Tulmo\\Sons",           // Windows paths
        "duas \\\\ barras",          "\\", "\n\n", "", "fim\\",
    };
    for (const QString &c : casos) {
        const QString cod = ConfigIni::encodeBody(c);
        QVERIFY2(!cod.contains('\n') && !cod.contains('\r'), qPrintable(cod));
        QCOMPARE(ConfigIni::decodeBody(cod), c);
    }
    QCOMPARE(ConfigIni::encodeBody("C:\\Tulmo\\Sons"), QString("C:\\Tulmo\\Sons"));
    QCOMPARE(ConfigIni::encodeBody("a\r\nb\rc"), QString("a\\nb\\nc"));
    // What the Windows version wrote (a single line) reads as it is.
    QCOMPARE(ConfigIni::decodeBody("Ver C:\\Relatorios\\Marco"),
             QString("Ver C:\\Relatorios\\Marco"));
}

void TestConfigIni::repeaterNumbersKeepFiveWhenUnreadable() {
    struct Caso {
        QByteArray tempo, attempts;
        int esperadoTempo, esperadoTentativas;
    };
    const Caso casos[] = {
        {"abc", "9", 5, 5},    // the first fails: the second is not read
        {"", "9", 5, 5},       // empty value
        {"8", "muitas", 8, 5}, // the second alone fails
        {" 7 ", "4", 7, 4},    // blanks around a number
        {"0", "500", 1, 99},   // held to the fields' ranges
        {"-3", "0", 1, 1},
    };
    for (const Caso &c : casos) {
        QTemporaryDir dir;
        const QString path = dir.path() + "/Config.ini";
        escrever(path, "[Repetidora]\r\nTempoTentativas=" + c.tempo +
                           "\r\nTentativasRepetidora=" + c.attempts + "\r\n");
        LiveSettings s;
        ConfigIni(path).readRepeater(s);
        QCOMPARE(s.retryInterval(), c.esperadoTempo);
        QCOMPARE(s.repeaterAttempts(), c.esperadoTentativas);
    }
    // No file at all.
    LiveSettings s;
    s.setRetryInterval(5);
    ConfigIni("/nonexistent/Config.ini").readRepeater(s);
    QCOMPARE(s.retryInterval(), 5);
    QCOMPARE(s.repeaterAttempts(), 5);
}

void TestConfigIni::cancelRereadsTheTextsButNotThePassword() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Config.ini";
    escrever(path,
             "[Sons]\r\nSomRearme=C:\\Tulmo\\Sons\\A.wav\r\n[Empresa]\r\nNomeEmpresa=Central\r\n"
             "Senha=antiga\r\nSMTP=smtp.a\r\nCorreioPadrao=1\r\nCorpoEmail=um\\ndois\r\n");
    LiveSettings s;
    ConfigIni(path).readSoundAndCompany(s);
    s.setCompanyName("editado");
    s.setSmtp("editado");
    s.setPassword("nova");
    s.setRearmSound("/tmp/outro.wav");
    s.setDefaultMailClient(false);
    s.setMailBody("editado");
    s.setCarbonCopy("editado");
    ConfigIni(path).readCompanyOnCancel(s);
    QCOMPARE(s.companyName(), QString("Central"));
    QCOMPARE(s.smtp(), QString("smtp.a"));
    QCOMPARE(s.mailBody(), QString("um\ndois"));
    QCOMPARE(s.carbonCopy(), QString("Erro")); // missing key
    QCOMPARE(s.senha(), QString("nova"));
    QCOMPARE(s.rearmSound(), QString("/tmp/outro.wav"));
    QVERIFY(!s.defaultMailClient());
}

void TestConfigIni::singleLineValuesCannotOpenASection() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Config.ini";
    LiveSettings s;
    s.setCompanyName("Central\r\n[Portas]\r\nCOM1=/dev/sda");
    s.setMailBody("linha\n[Portas]\nCOM1=/dev/sda");
    QVERIFY(ConfigIni(path).saveOptions(s));
    QCOMPARE(serialDeviceFor("COM1", path), QString("/dev/ttyS0"));
    QCOMPARE(s.companyName(), QString("Central [Portas] COM1=/dev/sda"));
    QCOMPARE(s.mailBody(), QString("linha\n[Portas]\nCOM1=/dev/sda"));
}

// A FIFO as Config.ini would hold the start (and every serial port's look-up) for good; a
// huge file would be read whole. Either is told once at the start, the defaults stand, and
// "Aplicar" does not put a file with its keys alone in its place.
void TestConfigIni::fileThatIsNoRegularFileIsToldAndNeverReplaced() {
    {
        Inicio t(QByteArray(""));
        QVERIFY(QFile::remove(t.config()));
        Fifo fifo(t.config());
        QVERIFY(fifo.ok());
        t.core.reset();
        t.core = std::make_unique<ConsoleCore>(t.dir.path(), t.clock, &t.prompt, &t.sound);
        QString error;
        QVERIFY2(t.core->start(&error), qPrintable(error));
        QCOMPARE(t.prompt.shown.size(), 1);
        QCOMPARE(t.prompt.shown[0].text,
                 QString("\"%1\" não é um arquivo comum (é um FIFO) e não foi lido.\n\nO Tulmo "
                         "usará as configurações padrão.")
                     .arg(t.config()));
        QCOMPARE(t.prompt.shown[0].icon, Prompt::Icon::Warning);
        QCOMPARE(t.s().rearmSound(), ConfigIni::defaultRearmSound());
        QCOMPARE(t.s().companyName(), QString("Erro"));
        QCOMPARE(serialDeviceFor("COM2", t.config()), QString("/dev/ttyS1"));
        QVERIFY(!ConfigIni(t.config()).saveOptions(t.s()));
        QVERIFY(!ConfigIni(t.config()).saveRepeater(t.s()));
        QVERIFY(QFileInfo(t.config()).isFile() == false && QFileInfo::exists(t.config()));
        QVERIFY(!fifo.releasedAReader());
    }
    QByteArray huge = "[Empresa]\r\nNomeEmpresa=Central\r\n";
    huge += QByteArray((2 << 20) - huge.size(), ';');
    Inicio t(huge);
    QCOMPARE(t.prompt.shown.size(), 1);
    QVERIFY2(t.prompt.shown[0].text.contains("não foi lido: tem 2 MB, e um arquivo desse tipo tem "
                                             "no máximo 1 MB."),
             qPrintable(t.prompt.shown[0].text));
    QCOMPARE(t.s().companyName(), QString("Erro"));
    QVERIFY(!ConfigIni(t.config()).saveOptions(t.s()));
    QCOMPARE(QFileInfo(t.config()).size(), huge.size());
}

QTEST_GUILESS_MAIN(TestConfigIni)
#include "test_configini.moc"
