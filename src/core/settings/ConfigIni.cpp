#include "ConfigIni.h"

#include "IniFile.h"
#include "LiveSettings.h"

#include <algorithm>

namespace tulmo {

namespace {
const QString kSons = QStringLiteral("Sons");
const QString kEmpresa = QStringLiteral("Empresa");
const QString kRepetidora = QStringLiteral("Repetidora");

// A value is one line of the file: a line break inside a single-line field would start a
// key or a section of its own.
QString umaLinha(QString v) {
    v.replace(QLatin1String("\r\n"), QLatin1String(" "));
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}

bool lerInteiro(const IniFile &ini, const QString &key, int min, int max, int *out) {
    bool ok = false;
    const int v = ini.readString(kRepetidora, key, ConfigIni::erro()).trimmed().toInt(&ok);
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

QString ConfigIni::caminho(const QString &dataDir) {
    return dataDir + QStringLiteral("/Config.ini");
}

void ConfigIni::lerRepetidora(LiveSettings &s) const {
    const IniFile ini(m_path);
    int v = 0;
    if (!lerInteiro(ini, QStringLiteral("TempoTentativas"), kTempoTentativasMin,
                    kTempoTentativasMax, &v))
        return;
    s.setTempoTentativas(v);
    if (lerInteiro(ini, QStringLiteral("TentativasRepetidora"), kTentativasMin, kTentativasMax, &v))
        s.setTentativasRepetidora(v);
}

namespace {
QString lerSom(const IniFile &ini) {
    const QString v = ini.readString(kSons, QStringLiteral("SomRearme"), ConfigIni::erro());
    return v == ConfigIni::erro() ? ConfigIni::somRearmePadrao() : v;
}
bool lerCorreio(const IniFile &ini) {
    QString v = ini.readString(kEmpresa, QStringLiteral("CorreioPadrao"), ConfigIni::erro());
    if (v == ConfigIni::erro()) v = QStringLiteral("1");
    return v == QLatin1String("1");
}
QString lerEmpresa(const IniFile &ini, const char *key) {
    return ini.readString(kEmpresa, QLatin1String(key), ConfigIni::erro());
}
QString lerCorpo(const IniFile &ini) {
    const QString v = lerEmpresa(ini, "CorpoEmail");
    return v == ConfigIni::erro() ? v : ConfigIni::decodificarCorpo(v);
}

// The texts "Cancelar" restores, in the order they are read.
const TextSetting kTextosCancelar[] = {
    {"NomeEmpresa", &LiveSettings::setNomeEmpresa, &LiveSettings::nomeEmpresa},
    {"NomeEmail", &LiveSettings::setNomeEmail, &LiveSettings::nomeEmail},
    {"Usuario", &LiveSettings::setUsuario, &LiveSettings::usuario},
    {"EnderecoEmail", &LiveSettings::setEnderecoEmail, &LiveSettings::enderecoEmail},
    {"CopiaCarbono", &LiveSettings::setCopiaCarbono, &LiveSettings::copiaCarbono},
    {"SMTP", &LiveSettings::setSmtp, &LiveSettings::smtp},
    {"Porta", &LiveSettings::setPortaEmail, &LiveSettings::portaEmail},
};
} // namespace

void ConfigIni::lerSomEEmpresa(LiveSettings &s) const {
    const IniFile ini(m_path);
    s.setSomRearme(lerSom(ini));
    for (const TextSetting &c : kTextosCancelar)
        (s.*c.set)(lerEmpresa(ini, c.key));
    s.setSenha(lerEmpresa(ini, "Senha"));
    s.setCorpoEmail(lerCorpo(ini));
    s.setCorreioPadrao(lerCorreio(ini));
}

void ConfigIni::lerEmpresaCancelar(LiveSettings &s) const {
    const IniFile ini(m_path);
    for (const TextSetting &c : kTextosCancelar)
        (s.*c.set)(lerEmpresa(ini, c.key));
    s.setCorpoEmail(lerCorpo(ini));
}

bool ConfigIni::gravarOpcoes(LiveSettings &s) const {
    IniFile ini(m_path);
    // Each value is written and read back at once, so the fields show what the file holds.
    if (!ini.writeString(kSons, QStringLiteral("SomRearme"), umaLinha(s.somRearme()))) return false;
    s.setSomRearme(lerSom(ini));
    if (!ini.writeString(kEmpresa, QStringLiteral("CorreioPadrao"),
                         s.correioPadrao() ? QStringLiteral("1") : QStringLiteral("0")))
        return false;
    s.setCorreioPadrao(lerCorreio(ini));
    const TextSetting textos[] = {
        {"NomeEmpresa", &LiveSettings::setNomeEmpresa, &LiveSettings::nomeEmpresa},
        {"NomeEmail", &LiveSettings::setNomeEmail, &LiveSettings::nomeEmail},
        {"EnderecoEmail", &LiveSettings::setEnderecoEmail, &LiveSettings::enderecoEmail},
        {"CopiaCarbono", &LiveSettings::setCopiaCarbono, &LiveSettings::copiaCarbono},
        {"SMTP", &LiveSettings::setSmtp, &LiveSettings::smtp},
        {"Usuario", &LiveSettings::setUsuario, &LiveSettings::usuario},
        {"Senha", &LiveSettings::setSenha, &LiveSettings::senha},
        {"Porta", &LiveSettings::setPortaEmail, &LiveSettings::portaEmail},
    };
    for (const TextSetting &c : textos) {
        if (!ini.writeString(kEmpresa, QLatin1String(c.key), umaLinha((s.*c.get)()))) return false;
        (s.*c.set)(lerEmpresa(ini, c.key));
    }
    if (!ini.writeString(kEmpresa, QStringLiteral("CorpoEmail"), codificarCorpo(s.corpoEmail())))
        return false;
    s.setCorpoEmail(lerCorpo(ini));
    return true;
}

bool ConfigIni::gravarRepetidora(const LiveSettings &s) const {
    IniFile ini(m_path);
    const bool a = ini.writeString(kRepetidora, QStringLiteral("TempoTentativas"),
                                   QString::number(s.tempoTentativas()));
    const bool b = ini.writeString(kRepetidora, QStringLiteral("TentativasRepetidora"),
                                   QString::number(s.tentativasRepetidora()));
    return a && b;
}

QString ConfigIni::codificarCorpo(const QString &corpo) {
    QString t = corpo;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString out;
    out.reserve(t.size() + 16);
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\\')) {
            const QChar prox = i + 1 < t.size() ? t.at(i + 1) : QChar();
            const bool ambiguo =
                prox == QLatin1Char('n') || prox == QLatin1Char('\\') || prox == QLatin1Char('\n');
            out += ambiguo ? QLatin1String("\\\\") : QLatin1String("\\");
        } else {
            out += c;
        }
    }
    return out;
}

QString ConfigIni::decodificarCorpo(const QString &valor) {
    QString out;
    out.reserve(valor.size());
    for (qsizetype i = 0; i < valor.size(); ++i) {
        const QChar c = valor.at(i);
        const QChar prox = i + 1 < valor.size() ? valor.at(i + 1) : QChar();
        if (c == QLatin1Char('\\') && prox == QLatin1Char('n')) {
            out += QLatin1Char('\n');
            ++i;
        } else if (c == QLatin1Char('\\') && prox == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace tulmo
