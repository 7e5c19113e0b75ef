#pragma once

#include <QObject>
#include <algorithm>
#include <QString>

namespace tulmo {

// The settings the rest of the console reads while it runs. The settings dialog's controls
// write here; reception, recording, the repeater and the mail read from here, whether the
// dialog has been shown or not. Config.ini fills it at start-up (ConfigIni).
class LiveSettings : public QObject {
    Q_OBJECT
public:
    // " Data dos eventos ": where the date and time of a decoded event come from.
    enum class EventTimeSource { FromComputer = 0, FromReceiver = 1 };

    static constexpr int kDefaultRetryInterval = 5;
    static constexpr int kDefaultRepeaterAttempts = 5;

    explicit LiveSettings(QObject *parent = nullptr)
        : QObject(parent) {}

    EventTimeSource eventTimeSource() const { return m_eventTimeSource; }
    void setEventTimeSource(EventTimeSource d) { m_eventTimeSource = d; }

    // [Sons] SomRearme: the alert sound of accounts waiting to be armed or silent, as stored
    // (a path of the Windows version resolves under the program folder when played).
    const QString &rearmSound() const { return m_rearmSound; }
    void setRearmSound(const QString &path) { m_rearmSound = path; }

    // [Empresa]: the station and the mail account of the report e-mails.
    const QString &companyName() const { return m_companyName; }
    void setCompanyName(const QString &v) { m_companyName = v; }
    const QString &mailSenderName() const { return m_mailSenderName; }
    void setMailSenderName(const QString &v) { m_mailSenderName = v; }
    const QString &usuario() const { return m_user; }
    void setUser(const QString &v) { m_user = v; }
    const QString &senha() const { return m_password; }
    void setPassword(const QString &v) { m_password = v; }
    const QString &mailAddress() const { return m_mailAddress; }
    void setMailAddress(const QString &v) { m_mailAddress = v; }
    const QString &carbonCopy() const { return m_carbonCopy; }
    void setCarbonCopy(const QString &v) { m_carbonCopy = v; }
    const QString &smtp() const { return m_smtp; }
    void setSmtp(const QString &v) { m_smtp = v; }
    // The SMTP port as the operator typed it.
    const QString &mailPort() const { return m_mailPort; }
    void setMailPort(const QString &v) { m_mailPort = v; }
    // The body of report e-mails, line breaks as "\n".
    const QString &mailBody() const { return m_mailBody; }
    void setMailBody(const QString &v) { m_mailBody = v; }
    // True: mail through the desktop's mail client; false: by SMTP.
    bool defaultMailClient() const { return m_defaultMailClient; }
    void setDefaultMailClient(bool v) { m_defaultMailClient = v; }

    // [Repetidora]: seconds between the repeater's attempts, and how many attempts.
    int retryInterval() const { return m_retryInterval; }
    void setRetryInterval(int s) { m_retryInterval = s; }
    int repeaterAttempts() const { return m_repeaterAttempts; }
    void setRepeaterAttempts(int n) { m_repeaterAttempts = n; }

    // [Pendentes] Aviso, Critico: the seconds an event may wait for an operator before its row
    // in "Eventos Pendentes" turns to the warning colour, then to the critical one.
    int pendingWarnSeconds() const { return m_pendingWarn; }
    int pendingCriticalSeconds() const { return m_pendingCritical; }
    void setPendingAges(int warn, int critical) {
        m_pendingWarn = warn;
        m_pendingCritical = std::max(warn, critical);
    }

private:
    EventTimeSource m_eventTimeSource = EventTimeSource::FromComputer;
    QString m_rearmSound = QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav");
    QString m_companyName;
    QString m_mailSenderName;
    QString m_user;
    QString m_password;
    QString m_mailAddress;
    QString m_carbonCopy;
    QString m_smtp;
    QString m_mailPort = QStringLiteral("25");
    QString m_mailBody;
    bool m_defaultMailClient = true;
    int m_retryInterval = kDefaultRetryInterval;
    int m_repeaterAttempts = kDefaultRepeaterAttempts;
    int m_pendingWarn = 60;
    int m_pendingCritical = 90;
};

} // namespace tulmo
