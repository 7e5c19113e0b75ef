#include "IniFile.h"

#include "core/common/RegularFile.h"
#include "core/common/TextCodec.h"

#include <QSaveFile>

namespace tulmo {

namespace {
QString sectionName(const QString &line) {
    const QString t = line.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return QString();
}
bool isSection(const QString &line) {
    const QString t = line.trimmed();
    return t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'));
}
} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path)) {
    reload();
}

void IniFile::reload() {
    // A missing or unreadable file reads as an empty one.
    QByteArray bytes;
    const FileCheck check = readReadable(m_path, FileLimits::kConfigIni, &bytes);
    m_error = check.ok() || check.missing() ? QString() : check.error;
    m_lines = windowsTextLines(bytes);
    while (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
}

int IniFile::findSection(const QString &section) const {
    for (int i = 0; i < m_lines.size(); ++i) {
        if (isSection(m_lines[i]) &&
            sectionName(m_lines[i]).compare(section.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const {
    const int s = findSection(section);
    if (s < 0) return def;
    for (int i = s + 1; i < m_lines.size() && !isSection(m_lines[i]); ++i) {
        const QString &line = m_lines[i];
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        if (line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0) continue;
        QString v = line.mid(eq + 1).trimmed();
        if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                              (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return def;
}

bool IniFile::writeString(const QString &section, const QString &key, const QString &value) {
    if (!m_error.isEmpty()) return false;
    const QString entry = key + QLatin1Char('=') + value;
    int s = findSection(section);
    if (s < 0) {
        m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        m_lines.append(entry);
        return save();
    }
    int last = s; // last non-empty line of the section
    for (int i = s + 1; i < m_lines.size() && !isSection(m_lines[i]); ++i) {
        const QString &line = m_lines[i];
        if (!line.trimmed().isEmpty()) last = i;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) == 0) {
            m_lines[i] = entry;
            return save();
        }
    }
    m_lines.insert(last + 1, entry);
    return save();
}

bool IniFile::save() const {
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray out;
    for (const QString &l : m_lines)
        out += l.toUtf8() + "\r\n";
    f.write(out);
    return f.commit();
}

QString serialDeviceFor(const QString &comName, const QString &configFile) {
#ifdef Q_OS_WIN
    Q_UNUSED(configFile);
    return comName;
#else
    const QString name = comName.trimmed();
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return name;
    const QString mapped =
        IniFile(configFile).readString(QStringLiteral("Portas"), name, QString());
    if (!mapped.isEmpty()) return mapped;
    bool ok = false;
    const int n = name.mid(3).toInt(&ok);
    if (!ok || n < 1) return name;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

} // namespace tulmo
