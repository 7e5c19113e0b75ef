#pragma once

#include <QString>
#include <QStringList>

namespace tulmo {

// Config.ini with the semantics of the Windows profile calls: "[Section]" and "key=value"
// lines, raw values (a backslash is a backslash), section and key names found without
// regard to case, the first matching key wins. Read in UTF-8 when valid, otherwise as
// Windows-1252; written in UTF-8 with CR LF line ends.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }
    // Reads the file again; a missing file reads as empty, and so does one that is no regular
    // file or is too large (FileLimits::kConfigIni), with the reason in error().
    void reload();
    // Why the file was not read, for the operator; empty when it was read or is missing.
    const QString &error() const { return m_error; }
    // The value of key in section, or def when either is missing.
    QString readString(const QString &section, const QString &key, const QString &def) const;
    // Sets the value (adding the key or the section when missing) and saves the file at once.
    // False, and the file left as it is, when it could not be read: saving would replace it
    // with the new key alone.
    bool writeString(const QString &section, const QString &key, const QString &value);

private:
    int findSection(const QString &section) const;
    bool save() const;

    QString m_path;
    QStringList m_lines;
    QString m_error;
};

// The device behind a Windows port name: "COMn" is looked up in the [Portas] section of
// Config.ini; when absent it is /dev/ttyS(n-1). Other names are used as they are.
QString serialDeviceFor(const QString &comName, const QString &configFile);

} // namespace tulmo
