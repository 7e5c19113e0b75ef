#include "SmtpTestServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace tulmo::test {

namespace {
QString python() {
    // The system's interpreter, which has python3-aiosmtpd, before any other on PATH.
    return QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                             : QStringLiteral("python3");
}
} // namespace

SmtpTestServer::SmtpTestServer(const Options &o) {
    QDir(m_dir.path()).mkdir("mail");
    QStringList args{TULMO_SMTP_SERVER_SCRIPT, "--folder", m_dir.filePath("mail")};
    if (o.refuse > 0)
        args << "--refuse" << QString::number(o.refuse) << "--refuse-code"
             << QString::number(o.refuseCode);
    if (o.tls) {
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-days", "1", "-subj", "/CN=localhost", "-addext",
                       "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                       m_dir.filePath("key.pem"), "-out", caFile()});
        if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0) {
            qWarning("openssl: %s", openssl.readAll().constData());
            return;
        }
        args << "--cert" << caFile() << "--key" << m_dir.filePath("key.pem");
    }
    if (!o.login.isEmpty()) args << "--login" << o.login;
    if (o.silent) args << "--silent";
    if (!o.refuseRecipient.isEmpty()) args << "--refuse-rcpt" << o.refuseRecipient;
    m_port = freePort();
    args << "--port" << QString::number(m_port);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python(), args);
    // The child says when it listens; until then a connection would be refused.
    QByteArray out;
    while (!out.contains("PRONTO") && m_process.waitForReadyRead(10000))
        out += m_process.readAllStandardOutput();
    m_ok = out.contains("PRONTO");
}

SmtpTestServer::~SmtpTestServer() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString SmtpTestServer::caFile() const {
    return m_dir.filePath("cert.pem");
}

int SmtpTestServer::messageCount() const {
    return int(QDir(m_dir.filePath("mail")).entryList({"*.eml"}, QDir::Files).size());
}

bool SmtpTestServer::waitForMessages(int n, int timeoutMs) const {
    return waitFor([&] { return messageCount() >= n; }, timeoutMs);
}

QByteArray SmtpTestServer::message(int n) const {
    QFile f(m_dir.filePath(QStringLiteral("mail/%1.eml").arg(n)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject SmtpTestServer::session(int n) const {
    QFile f(m_dir.filePath(QStringLiteral("mail/%1.json").arg(n)));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                       : QJsonObject();
}

} // namespace tulmo::test
