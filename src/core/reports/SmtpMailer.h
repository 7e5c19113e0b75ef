#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QThread;

namespace tulmo {

struct SmtpMailerState;

// One mail: a text body and at most one attached file (sent under the file's own name).
struct MailMessage {
    QString fromName, fromAddress, toName, toAddress, subject, body, attachmentPath;
    bool highestPriority = true;
};

// The SMTP server of the station. STARTTLS is used whenever the server offers it, and then
// its certificate must verify (caFile adds a trusted authority, otherwise the system's);
// user and password are sent only when both are set.
struct SmtpAccount {
    QString host;
    int port = 25;
    QString user, password;
    int timeoutSeconds = 30;
    QString caFile;
};

// The sender address used on the SMTP path when the station has no address of its own: a
// reserved domain, so no reply can reach somebody else.
inline constexpr char kNoReplySender[] = "nao-responder@tulmo.invalid";
// The station's EnderecoEmail when it holds an address, otherwise kNoReplySender.
QString smtpSenderAddress(const QString &enderecoEmail);
// Whether text is one plain mail address (local@domain, nothing around it).
bool isMailAddress(const QString &text);

// Sends mail by SMTP on a worker thread of its own, so neither the window nor reception waits
// for a server. One attempt per send(); attempts run one after another in the order sent and
// each ends with one finished(), delivered on the mailer's thread in the same order.
class SmtpMailer : public QObject {
    Q_OBJECT
public:
    explicit SmtpMailer(QObject *parent = nullptr);
    // Aborts an attempt in progress and joins the worker.
    ~SmtpMailer() override;

    void send(const SmtpAccount &account, const MailMessage &message);
    // Ends the attempt in progress at once and cancels those not started; each still
    // reports finished(false, false, ...).
    void abort();

signals:
    // couldNotConnect: the server could not be reached (name, connection, greeting, TLS),
    // so another attempt now would fail the same way. error is Portuguese and names the
    // server and the reason. serverAnswer: the server's last refusal as it wrote it
    // ("550 5.7.1 Relaying denied"), empty when it refused nothing.
    void finished(bool ok, bool couldNotConnect, const QString &error,
                  const QString &serverAnswer);

private:
    std::shared_ptr<SmtpMailerState> m_shared;
    QThread *m_thread;
    QObject *m_worker;
};

// Whether the desktop has a mail client that xdg-email can hand a message to.
bool desktopMailClientAvailable();
// Hands the message to the desktop's mail client (xdg-email --subject --body --attach <path>
// <address>). True when the client was started; what it does then is its own affair.
bool sendWithDesktopClient(const MailMessage &message);

} // namespace tulmo
