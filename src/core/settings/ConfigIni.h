#pragma once

#include "core/events/RunawayWatch.h"

#include <QString>

namespace tulmo {

struct DatabaseLocation;

class LiveSettings;

struct StationSettings {
    QString name;
    bool receives = false;
    int takeoverSeconds = 10;
};

// Config.ini in the data folder: the rearm sound, the station's company and mail account,
// and the repeater's retries. A missing key reads as "Erro": the company and mail texts show
// it, the sound and the mail option fall back to their defaults, the repeater numbers keep
// what they had.
class ConfigIni {
public:
    static constexpr int kRetryIntervalMin = 1;
    static constexpr int kRetryIntervalMax = 3600;
    static constexpr int kAttemptsMin = 1;
    static constexpr int kAttemptsMax = 99;

    // The text that stands for a missing key.
    static QString errorText() { return QStringLiteral("Erro"); }
    static QString defaultRearmSound() { return QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav"); }

    explicit ConfigIni(QString path);
    // <dataDir>/Config.ini
    static QString pathIn(const QString &dataDir);
    const QString &path() const { return m_path; }

    // Why the file cannot be read (no regular file, too large, unreadable), for the operator;
    // empty when it can be, or is missing. The readers below then read it as an empty file.
    QString readProblem() const;

    // [Banco]: where the station's database is. Without Servidor, the embedded file
    // dataDir/TULMO.FDB. Porta defaults to 3050, Usuario to SYSDBA, Senha to the station's own.
    // False, with the operator's text in problem, when the section names a server but not
    // the database on it, or a port that is no port.
    bool readDatabase(const QString &dataDir, DatabaseLocation *where, QString *problem) const;

    // [Estacao]: this workstation's name (Nome; the computer's name when missing), whether
    // it may hold reception on a shared database (Recepcao=1) and after how many seconds of
    // a lease not renewed a standby takes reception (TempoAssumir, 5 to 600, default 10).
    StationSettings readStation() const;
    // [Repetidora]: the interval first; when it cannot be read the count is not read either.
    void readRepeater(LiveSettings &s) const;
    // [Sons] SomRearme and every [Empresa] key, as at start-up.
    void readSoundAndCompany(LiveSettings &s) const;
    // [Pendentes] Aviso and Critico (seconds, 1 to 86400); what is missing or no number keeps
    // the defaults of 60 and 90. A critical age under the warning one is the warning one.
    void readPendingAges(LiveSettings &s) const;
    // [Disparo] Sinais and Minutos: an account that sends more than Sinais events within
    // Minutos is runaway (defaults 12 and 60; 1 to 1000 signals, 1 to 1440 minutes).
    RunawayWatch::Limits runawayLimits() const;
    // The company and mail texts that "Cancelar" restores; the password, the sound and the
    // mail option keep their edited values.
    void readCompanyOnCancel(LiveSettings &s) const;

    // Writes the sound and the [Empresa] keys one by one, reading each back at once. False
    // when the file could not be written: the edited values are then kept as they are.
    bool saveOptions(LiveSettings &s) const;
    // [Repetidora] in decimal.
    bool saveRepeater(const LiveSettings &s) const;

    // CorpoEmail is one line in the file: a line break is kept as the two characters "\n"
    // and a backslash before "n" or another backslash is doubled, so a Windows reader still
    // shows the whole body as text and a path like "C:\Tulmo" stays as it is.
    static QString encodeBody(const QString &body);
    static QString decodeBody(const QString &value);

private:
    QString m_path;
};

} // namespace tulmo
