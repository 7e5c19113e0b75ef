// Config.ini as an operator, an installer or the Windows version leaves it: any bytes, read at
// start-up and written back by the settings dialog.
//
// Input: the file's bytes.
//
// Properties:
//  - the repeater's numbers read within their bounds;
//  - what the dialog saves is what the next start reads: after saveOptions and saveRepeater, a
//    fresh read gives the values the dialog was left showing;
//  - saving the options keeps the keys it does not own ([Portas]);
//  - a mail body survives its encoding into one line.

#include "FuzzSupport.h"

#include "core/settings/ConfigIni.h"
#include "core/settings/IniFile.h"
#include "core/settings/LiveSettings.h"

#include <QFile>

using namespace tulmo;

namespace {

QStringList options(const LiveSettings &s) {
    return {s.rearmSound(),
            s.companyName(),
            s.mailSenderName(),
            s.usuario(),
            s.senha(),
            s.mailAddress(),
            s.carbonCopy(),
            s.smtp(),
            s.mailPort(),
            s.mailBody(),
            s.defaultMailClient() ? QStringLiteral("1") : QStringLiteral("0")};
}

QString portOf(const QString &path) {
    return IniFile(path).readString(QStringLiteral("Portas"), QStringLiteral("COM3"),
                                    QStringLiteral("(nenhuma)"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    const QString path = ConfigIni::pathIn(fuzz::scratch().path());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(input) != input.size())
            fuzz::broken("não gravou o arquivo de teste", input);
    }
    const ConfigIni config(path);
    LiveSettings shown;
    config.readRepeater(shown);
    if (shown.retryInterval() < ConfigIni::kRetryIntervalMin ||
        shown.retryInterval() > ConfigIni::kRetryIntervalMax ||
        shown.repeaterAttempts() < ConfigIni::kAttemptsMin ||
        shown.repeaterAttempts() > ConfigIni::kAttemptsMax)
        fuzz::broken("repetidora fora dos limites", input);
    config.readSoundAndCompany(shown);
    if (serialDeviceFor(QStringLiteral("COM3"), path).isEmpty())
        fuzz::broken("porta COM3 sem dispositivo", input);

    const QString port = portOf(path);
    if (!config.saveOptions(shown) || !config.saveRepeater(shown))
        fuzz::broken("não gravou o Config.ini", input);
    LiveSettings next;
    config.readRepeater(next);
    config.readSoundAndCompany(next);
    if (options(next) != options(shown))
        fuzz::broken("o que o diálogo gravou não é o que se lê", input,
                     options(shown).join(QLatin1Char('|')) + QStringLiteral(" <> ") +
                         options(next).join(QLatin1Char('|')));
    if (next.retryInterval() != shown.retryInterval() ||
        next.repeaterAttempts() != shown.repeaterAttempts())
        fuzz::broken("repetidora gravada não é a lida", input);
    if (portOf(path) != port) fuzz::broken("gravar as opções mudou [Portas]", input, port);

    QString body = QString::fromUtf8(input.left(256));
    const QString encoded = ConfigIni::encodeBody(body);
    if (encoded.contains(QLatin1Char('\r')) || encoded.contains(QLatin1Char('\n')))
        fuzz::broken("corpo do e-mail em mais de uma linha", input);
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (ConfigIni::decodeBody(encoded) != body) fuzz::broken("corpo do e-mail não volta", input);
    return 0;
}
