#pragma once

#include "core/reports/ReportQuery.h"
#include "core/reports/SmtpMailer.h"

#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QTimer>

namespace tulmo {

class Clock;
class LiveSettings;
class Prompt;
class ReportSource;

// "Enviar por Email": mails one account's event report, or every account its own with "Todas",
// as a text file attached. Nothing here waits on the event loop: the report file is written on
// the report source's thread, the two pauses of a second are timers, and SMTP runs on the
// mailer's own thread, so reception goes on while mail is sent. Messages to the operator go
// through the prompt; in the loop over all accounts each one waits for the operator before
// the next account. The operator can stop the loop between accounts (and cut a send that
// hangs).
class ReportMailFlow : public QObject {
    Q_OBJECT
public:
    ReportMailFlow(ReportSource &source, QSqlDatabase db, const LiveSettings &settings,
                   Prompt *prompt, const Clock &clock, QString programDir,
                   QObject *parent = nullptr);

    // sel.conta is the chosen account or "Todas"; accounts is the account list after "Todas",
    // of which "Todas" walks those with an e-mail, in that order. Returns false (with a
    // message) when nothing was started.
    bool start(const ReportSelection &sel, const QStringList &accounts);
    void cancel();
    bool running() const { return m_running; }

    // Seconds an SMTP attempt may wait for the server.
    void setSmtpTimeout(int seconds) { m_timeoutSeconds = seconds; }
    // The report file of an account: program folder + "Relatorio" + account + ".TXT".
    QString reportFile(const QString &conta) const;

signals:
    void statusChanged(const QString &text);
    // The gauge: shown with maximum > 0 at value, hidden with maximum 0.
    void progressChanged(int value, int maximum);
    // The account the loop is at, and "Todas" again at its end.
    void accountSelected(const QString &conta);
    void finished();

private:
    // The checks and the first account, once the mail path is known; false when nothing was
    // started (the operator has been told why).
    bool begin();
    void mailAccountsRead(bool ok, const QStringList &withEmail, const QString &error);
    void nextAccount();
    void SendReportMail(const QString &conta, const QString &to, const QString &nome);
    void exported(bool ok, const QString &error);
    void pauseOver();
    void attach();
    void submit();
    MailMessage mailMessage() const;
    void mailerFinished(bool ok, bool couldNotConnect, const QString &error,
                        const QString &serverAnswer);
    void accountDone();
    void finish(const QString &status = QString());
    void setStatus(const QString &text);
    void message(const QString &text);

    ReportSource &m_source;
    QSqlDatabase m_db;
    const LiveSettings &m_settings;
    Prompt *m_prompt;
    const Clock &m_clock;
    QString m_programDir;
    SmtpMailer m_mailer;
    QTimer m_pause;
    int m_timeoutSeconds = 30;

    bool m_running = false;
    bool m_cancelled = false;
    bool m_all = false;
    ReportSelection m_sel;
    QStringList m_accounts;
    int m_index = -1;
    int m_port = 25;
    QString m_conta, m_to, m_nome;
    int m_attempt = 0;
    enum class Step { Idle, Listing, Exporting, WaitAttach, WaitSend, Sending } m_step = Step::Idle;
    bool m_desktop = false;
};

} // namespace tulmo
