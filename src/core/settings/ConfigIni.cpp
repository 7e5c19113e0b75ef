#include "ConfigIni.h"

#include <QSysInfo>

#include "IniFile.h"
#include "LiveSettings.h"
#include "core/store/Database.h"

#include <algorithm>

namespace tulmo {

namespace {
const QString kSons = QStringLiteral("Sons");
const QString kEmpresa = QStringLiteral("Empresa");
const QString kRepetidora = QStringLiteral("Repetidora");

// A value is one line of the file: a line break inside a single-line field would start a
// key or a section of its own.
QString oneLine(QString v) {
    v.replace(QLatin1String("\r\n"), QLatin1String(" "));
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}

bool readInt(const IniFile &ini, const QString &key, int min, int max, int *out) {
    bool ok = false;
    const int v = ini.readString(kRepetidora, key, ConfigIni::errorText()).trimmed().toInt(&ok);
    if (!ok) return false;
    *out = std::clamp(v, min, max);
    return true;
}

// The [Empresa] texts shown as they are read ("Erro" when missing).
struct TextSetting {
    const char *key;
    void (LiveSettings::*set)(const QString &);
    const QString &(LiveSettings::*get)() const;
};
} // namespace

ConfigIni::ConfigIni(QString path)
    : m_path(std::move(path)) {}

QString ConfigIni::pathIn(const QString &dataDir) {
    return dataDir + QStringLiteral("/Config.ini");
}

QString ConfigIni::readProblem() const {
    return IniFile(m_path).error();
}

bool ConfigIni::readDatabase(const QString &dataDir, DatabaseLocation *where,
                             QString *problem) const {
    const IniFile ini(m_path);
    const QString banco = QStringLiteral("Banco");
    auto value = [&](const char *key) {
        return ini.readString(banco, QLatin1String(key), QString()).trimmed();
    };
    *where = DatabaseLocation::embedded(dataDir + QStringLiteral("/TULMO.FDB"));
    const QString server = value("Servidor");
    if (server.isEmpty()) return true;
    const QString file = value("Arquivo");
    if (file.isEmpty()) {
        *problem = QStringLiteral("O Config.ini indica o servidor de banco de dados \"%1\" "
                                  "([Banco] Servidor), mas não o banco nele ([Banco] Arquivo).")
                       .arg(server);
        return false;
    }
    const QString port = value("Porta");
    bool ok = true;
    const int number = port.isEmpty() ? DatabaseLocation::kDefaultPort : port.toInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        *problem = QStringLiteral("A porta do servidor de banco de dados no Config.ini "
                                  "([Banco] Porta) não é válida: \"%1\".")
                       .arg(port);
        return false;
    }
    where->server = server;
    where->port = number;
    where->file = file;
    if (const QString user = value("Usuario"); !user.isEmpty()) where->user = user;
    if (const QString password = value("Senha"); !password.isEmpty()) where->password = password;
    return true;
}

StationSettings ConfigIni::readStation() const {
    const IniFile ini(m_path);
    const QString section = QStringLiteral("Estacao");
    StationSettings s;
    s.name = ini.readString(section, QStringLiteral("Nome"), QString()).trimmed().left(60);
    if (s.name.isEmpty()) s.name = QSysInfo::machineHostName();
    if (s.name.isEmpty()) s.name = QStringLiteral("estação sem nome");
    s.receives = ini.readString(section, QStringLiteral("Recepcao"), QString()).trimmed() ==
                 QLatin1String("1");
    bool ok = false;
    const int seconds =
        ini.readString(section, QStringLiteral("TempoAssumir"), QString()).trimmed().toInt(&ok);
    if (ok && seconds >= 5 && seconds <= 600) s.takeoverSeconds = seconds;
    return s;
}

void ConfigIni::readRepeater(LiveSettings &s) const {
    const IniFile ini(m_path);
    int v = 0;
    if (!readInt(ini, QStringLiteral("TempoTentativas"), kRetryIntervalMin,
                    kRetryIntervalMax, &v))
        return;
    s.setRetryInterval(v);
    if (readInt(ini, QStringLiteral("TentativasRepetidora"), kAttemptsMin, kAttemptsMax, &v))
        s.setRepeaterAttempts(v);
}

void ConfigIni::readPendingAges(LiveSettings &s) const {
    const IniFile ini(m_path);
    auto seconds = [&](const char *key, int fallback) {
        bool ok = false;
        const int v = ini.readString(QStringLiteral("Pendentes"), QLatin1String(key), QString())
                          .trimmed()
                          .toInt(&ok);
        return ok ? std::clamp(v, 1, 86400) : fallback;
    };
    const int warn = seconds("Aviso", s.pendingWarnSeconds());
    s.setPendingAges(warn, seconds("Critico", std::max(warn, s.pendingCriticalSeconds())));
}

RunawayWatch::Limits ConfigIni::runawayLimits() const {
    const IniFile ini(m_path);
    RunawayWatch::Limits l;
    auto read = [&](const char *key, int low, int high, int fallback) {
        bool ok = false;
        const int v = ini.readString(QStringLiteral("Disparo"), QLatin1String(key), QString())
                          .trimmed()
                          .toInt(&ok);
        return ok && v >= low && v <= high ? v : fallback;
    };
    l.events = read("Sinais", 1, RunawayWatch::kMaxSignals, l.events);
    l.minutes = read("Minutos", 1, RunawayWatch::kMaxMinutes, l.minutes);
    return l;
}

namespace {
QString readSound(const IniFile &ini) {
    const QString v = ini.readString(kSons, QStringLiteral("SomRearme"), ConfigIni::errorText());
    return v == ConfigIni::errorText() ? ConfigIni::defaultRearmSound() : v;
}
bool readMailClient(const IniFile &ini) {
    QString v = ini.readString(kEmpresa, QStringLiteral("CorreioPadrao"), ConfigIni::errorText());
    if (v == ConfigIni::errorText()) v = QStringLiteral("1");
    return v == QLatin1String("1");
}
QString readCompany(const IniFile &ini, const char *key) {
    return ini.readString(kEmpresa, QLatin1String(key), ConfigIni::errorText());
}
QString readBody(const IniFile &ini) {
    const QString v = readCompany(ini, "CorpoEmail");
    return v == ConfigIni::errorText() ? v : ConfigIni::decodeBody(v);
}

// The texts "Cancelar" restores, in the order they are read.
const TextSetting kCancelTexts[] = {
    {"NomeEmpresa", &LiveSettings::setCompanyName, &LiveSettings::companyName},
    {"NomeEmail", &LiveSettings::setMailSenderName, &LiveSettings::mailSenderName},
    {"Usuario", &LiveSettings::setUser, &LiveSettings::usuario},
    {"EnderecoEmail", &LiveSettings::setMailAddress, &LiveSettings::mailAddress},
    {"CopiaCarbono", &LiveSettings::setCarbonCopy, &LiveSettings::carbonCopy},
    {"SMTP", &LiveSettings::setSmtp, &LiveSettings::smtp},
    {"Porta", &LiveSettings::setMailPort, &LiveSettings::mailPort},
};
} // namespace

void ConfigIni::readSoundAndCompany(LiveSettings &s) const {
    const IniFile ini(m_path);
    s.setRearmSound(readSound(ini));
    for (const TextSetting &c : kCancelTexts)
        (s.*c.set)(readCompany(ini, c.key));
    s.setPassword(readCompany(ini, "Senha"));
    s.setMailBody(readBody(ini));
    s.setDefaultMailClient(readMailClient(ini));
}

void ConfigIni::readCompanyOnCancel(LiveSettings &s) const {
    const IniFile ini(m_path);
    for (const TextSetting &c : kCancelTexts)
        (s.*c.set)(readCompany(ini, c.key));
    s.setMailBody(readBody(ini));
}

bool ConfigIni::saveOptions(LiveSettings &s) const {
    IniFile ini(m_path);
    // Each value is written and read back at once, so the fields show what the file holds.
    if (!ini.writeString(kSons, QStringLiteral("SomRearme"), oneLine(s.rearmSound()))) return false;
    s.setRearmSound(readSound(ini));
    if (!ini.writeString(kEmpresa, QStringLiteral("CorreioPadrao"),
                         s.defaultMailClient() ? QStringLiteral("1") : QStringLiteral("0")))
        return false;
    s.setDefaultMailClient(readMailClient(ini));
    const TextSetting texts[] = {
        {"NomeEmpresa", &LiveSettings::setCompanyName, &LiveSettings::companyName},
        {"NomeEmail", &LiveSettings::setMailSenderName, &LiveSettings::mailSenderName},
        {"EnderecoEmail", &LiveSettings::setMailAddress, &LiveSettings::mailAddress},
        {"CopiaCarbono", &LiveSettings::setCarbonCopy, &LiveSettings::carbonCopy},
        {"SMTP", &LiveSettings::setSmtp, &LiveSettings::smtp},
        {"Usuario", &LiveSettings::setUser, &LiveSettings::usuario},
        {"Senha", &LiveSettings::setPassword, &LiveSettings::senha},
        {"Porta", &LiveSettings::setMailPort, &LiveSettings::mailPort},
    };
    for (const TextSetting &c : texts) {
        if (!ini.writeString(kEmpresa, QLatin1String(c.key), oneLine((s.*c.get)()))) return false;
        (s.*c.set)(readCompany(ini, c.key));
    }
    if (!ini.writeString(kEmpresa, QStringLiteral("CorpoEmail"), encodeBody(s.mailBody())))
        return false;
    s.setMailBody(readBody(ini));
    return true;
}

bool ConfigIni::saveRepeater(const LiveSettings &s) const {
    IniFile ini(m_path);
    const bool a = ini.writeString(kRepetidora, QStringLiteral("TempoTentativas"),
                                   QString::number(s.retryInterval()));
    const bool b = ini.writeString(kRepetidora, QStringLiteral("TentativasRepetidora"),
                                   QString::number(s.repeaterAttempts()));
    return a && b;
}

QString ConfigIni::encodeBody(const QString &body) {
    QString t = body;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString out;
    out.reserve(t.size() + 16);
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\\')) {
            const QChar following = i + 1 < t.size() ? t.at(i + 1) : QChar();
            const bool ambiguous =
                following == QLatin1Char('n') || following == QLatin1Char('\\') || following == QLatin1Char('\n');
            out += ambiguous ? QLatin1String("\\\\") : QLatin1String("\\");
        } else {
            out += c;
        }
    }
    return out;
}

QString ConfigIni::decodeBody(const QString &value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const QChar following = i + 1 < value.size() ? value.at(i + 1) : QChar();
        if (c == QLatin1Char('\\') && following == QLatin1Char('n')) {
            out += QLatin1Char('\n');
            ++i;
        } else if (c == QLatin1Char('\\') && following == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace tulmo
