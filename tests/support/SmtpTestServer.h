#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace tulmo::test {

// A real SMTP server on a free loopback port (tests/support/smtp_server.py, python3-aiosmtpd)
// in a child process that ends with this object. Each message received is kept as a file.
class SmtpTestServer {
public:
    struct Options {
        int refuse = 0;          // the first messages refused at the end of DATA
        int refuseCode = 451;
        bool tls = false;        // offers STARTTLS with a certificate made for this run
        QString login;           // "user:password" required (AUTH LOGIN/PLAIN) before MAIL
        bool silent = false;     // accepts connections and never says a word
        QString refuseRecipient; // every RCPT answered with this line ("550 5.7.1 …")
    };
    explicit SmtpTestServer(const Options &options);
    SmtpTestServer() : SmtpTestServer(Options{}) {}
    ~SmtpTestServer();

    bool ok() const { return m_ok; }
    quint16 port() const { return m_port; }
    // The server's self-signed certificate, for the client to trust (with tls).
    QString caFile() const;
    // Waits until n messages were stored.
    bool waitForMessages(int n, int timeoutMs = 5000) const;
    int messageCount() const;
    // Message n (from 1) as received, and its session: from, to, tls, login.
    QByteArray message(int n) const;
    QJsonObject session(int n) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_ok = false;
};

} // namespace tulmo::test
