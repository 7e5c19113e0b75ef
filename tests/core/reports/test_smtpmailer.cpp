#include "core/reports/SmtpMailer.h"

#include "support/SmtpTestServer.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// A message as it reached the server: its headers (unfolded, by lower-case name) and the
// body of its parts.
struct Part {
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
};

Part parsePart(const QByteArray &raw) {
    Part p;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    QByteArray head = raw.left(end);
    head.replace("\r\n ", " ").replace("\r\n\t", " ");
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) p.headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
    }
    p.body = raw.mid(end + 4);
    return p;
}

QList<Part> parts(const Part &message) {
    const QRegularExpression re("boundary=\"?([^\";]+)\"?");
    const QByteArray boundary = "--" + re.match(message.headers.value("content-type")).captured(1).toLatin1();
    QList<Part> out;
    const QList<QByteArray> pieces = message.body.split('\n');
    QByteArray current;
    bool inside = false;
    for (const QByteArray &line : pieces) {
        if (line.trimmed().startsWith(boundary)) {
            if (inside) out << parsePart(current.chopped(2)); // the CR LF before the boundary
            current.clear();
            inside = !line.trimmed().endsWith("--");
            continue;
        }
        if (inside) current += line + '\n';
    }
    return out;
}

QString decodeWords(const QByteArray &text) {
    // Blanks between two encoded words are not part of the text.
    const QRegularExpression between("\\?=\\s+=\\?");
    const QRegularExpression word("=\\?UTF-8\\?B\\?([^?]*)\\?=", QRegularExpression::CaseInsensitiveOption);
    QString out = QString::fromLatin1(text).replace(between, "?==?");
    QRegularExpressionMatch m;
    while ((m = word.match(out)).hasMatch())
        out.replace(m.capturedStart(), m.capturedLength(),
                    QString::fromUtf8(QByteArray::fromBase64(m.captured(1).toLatin1())));
    return out;
}

QByteArray quotedPrintable(const QByteArray &in) {
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') {
            i += 2;
        } else if (in[i] == '=' && i + 2 < in.size()) {
            out += char(in.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += in[i];
        }
    }
    return out;
}

SmtpAccount account(const SmtpTestServer &server) {
    SmtpAccount a;
    a.host = "127.0.0.1";
    a.port = server.port();
    a.timeoutSeconds = 5;
    return a;
}

MailMessage reportMail(const QString &attachment) {
    MailMessage m;
    m.fromName = "Central São João \"24h\"";
    m.fromAddress = "central@teste.local";
    m.toName = "Padaria Ação Ltda";
    m.toAddress = "cliente@teste.local";
    m.subject = "Relatório de Eventos";
    m.body = "Segue o relatório.\nLinha com acentuação: ç ã é\n";
    m.attachmentPath = attachment;
    return m;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    return f.fileName();
}

// The outcome of one finished() at a time, in order.
struct Results {
    explicit Results(SmtpMailer &m)
        : spy(&m, &SmtpMailer::finished) {}
    bool wait(int n, int ms = 15000) { return waitFor([&] { return spy.size() >= n; }, ms); }
    bool ok(int i) const { return spy.at(i).at(0).toBool(); }
    bool couldNotConnect(int i) const { return spy.at(i).at(1).toBool(); }
    QString error(int i) const { return spy.at(i).at(2).toString(); }
    QString answer(int i) const { return spy.at(i).at(3).toString(); }
    QSignalSpy spy;
};

// Whether a text holds words of the mail library's own (English) messages.
bool english(const QString &text) {
    for (const char *w : {"failed", "Failed", "Timeout", "timeout", "Could", "reached",
                          "response", "Couldn't", "Login denied", "error"})
        if (text.contains(QLatin1String(w))) return true;
    return false;
}

} // namespace

class TestSmtpMailer : public QObject {
    Q_OBJECT
private slots:
    void deliversOneMessageWithHeadersBodyAndAttachment();
    void reportsRefusalsAndUnreachableServersInOrder();
    void refusedRecipientIsToldInTheServersWords();
    void usesStartTlsAndLoginAndRefusesAnUntrustedCertificate();
    void silentServerTimesOutWhileTheEventLoopRunsAndAbortEndsAtOnce();
    void desktopClientGetsExactlyTheArguments();
};

void TestSmtpMailer::deliversOneMessageWithHeadersBodyAndAttachment() {
    SmtpTestServer server;
    QVERIFY(server.ok());
    QTemporaryDir dir;
    // Windows-1252 text with CR LF lines and a line longer than any mail line may be.
    QByteArray report = "CONTA  EVENTO\r\n001234 ALARME ZONA 3 \xc7\xc3O\r\n";
    report += QByteArray(1500, 'x') + "\r\n\x00\xff";
    const QString path = writeFile(dir, "Relatorio001234.TXT", report);

    SmtpMailer mailer;
    Results r(mailer);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    mailer.send(account(server), reportMail(path));
    QVERIFY(r.wait(1));
    QVERIFY2(r.ok(0), qPrintable(r.error(0)));
    QVERIFY(r.error(0).isEmpty());
    QVERIFY(server.waitForMessages(1));
    QCOMPARE(server.messageCount(), 1);

    const QJsonObject session = server.session(1);
    QCOMPARE(session["from"].toString(), QString("central@teste.local"));
    QCOMPARE(session["to"].toArray().toVariantList(), QVariantList{"cliente@teste.local"});
    QCOMPARE(session["tls"].toBool(), false);

    const Part mail = parsePart(server.message(1));
    QCOMPARE(decodeWords(mail.headers["subject"]), QString("Relatório de Eventos"));
    QCOMPARE(decodeWords(mail.headers["from"]), QString("Central São João \"24h\" <central@teste.local>"));
    QCOMPARE(decodeWords(mail.headers["to"]), QString("Padaria Ação Ltda <cliente@teste.local>"));
    QCOMPARE(mail.headers["x-priority"], QByteArray("1"));
    QCOMPARE(mail.headers["importance"], QByteArray("High"));
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(mail.headers["date"]), Qt::RFC2822Date);
    QVERIFY2(date.isValid() && date >= before && date <= QDateTime::currentDateTime(),
             mail.headers["date"].constData());
    QVERIFY(QRegularExpression("^<[0-9a-f-]{36}@teste\\.local>$").match(QString(mail.headers["message-id"])).hasMatch());
    QVERIFY(mail.headers["content-type"].startsWith("multipart/mixed"));

    const QList<Part> p = parts(mail);
    QCOMPARE(p.size(), 2);
    QVERIFY(p[0].headers["content-type"].contains("text/plain"));
    QCOMPARE(QString::fromUtf8(quotedPrintable(p[0].body)),
             QString("Segue o relatório.\r\nLinha com acentuação: ç ã é\r\n"));
    QVERIFY(p[1].headers["content-disposition"].contains("filename=\"Relatorio001234.TXT\""));
    QVERIFY(p[1].headers["content-type"].contains("charset=windows-1252"));
    QCOMPARE(p[1].headers["content-transfer-encoding"], QByteArray("base64"));
    QCOMPARE(QByteArray::fromBase64(p[1].body), report);
    for (const QByteArray &line : server.message(1).split('\n')) QVERIFY(line.size() <= 1000);
}

void TestSmtpMailer::reportsRefusalsAndUnreachableServersInOrder() {
    SmtpTestServer::Options o;
    o.refuse = 2;
    o.refuseCode = 451;
    SmtpTestServer server(o);
    QVERIFY(server.ok());
    QTemporaryDir dir;
    const QString path = writeFile(dir, "Relatorio7.TXT", "relatório\n");
    SmtpAccount closed = account(server);
    closed.port = freePort(); // nobody listens there

    SmtpMailer mailer;
    Results r(mailer);
    MailMessage badTo = reportMail(path);
    badTo.toAddress = "cliente@teste.local>\r\nBcc: outro@teste.local";
    MailMessage missing = reportMail(dir.filePath("naoexiste.TXT"));
    // Sent back to back: the outcomes come back in the same order.
    mailer.send(account(server), reportMail(path));
    mailer.send(closed, reportMail(path));
    mailer.send(account(server), badTo);
    mailer.send(account(server), missing);
    mailer.send(account(server), reportMail(path));
    mailer.send(account(server), reportMail(path));
    QVERIFY(r.wait(6));

    QVERIFY(!r.ok(0));
    QVERIFY(!r.couldNotConnect(0));
    // The server's own words, and the library's in Portuguese.
    QCOMPARE(r.answer(0), QString("451 Mensagem recusada pelo servidor de teste"));
    QCOMPARE(r.error(0), "O servidor SMTP 127.0.0.1:" + QString::number(server.port()) +
                             " não aceitou o e-mail para cliente@teste.local: o servidor deu "
                             "uma resposta que não era a esperada. O servidor respondeu: 451 "
                             "Mensagem recusada pelo servidor de teste");
    QVERIFY(!r.ok(1));
    QVERIFY(r.couldNotConnect(1));
    QCOMPARE(r.error(1), "Não foi possível conectar ao servidor SMTP 127.0.0.1:" +
                             QString::number(closed.port) +
                             ": a conexão foi recusada ou o servidor não pôde ser alcançado.");
    QCOMPARE(r.answer(1), QString());
    for (int i = 0; i < 6; ++i)
        QVERIFY2(!english(r.error(i)), qPrintable(r.error(i)));
    QVERIFY(!r.ok(2));
    QVERIFY(!r.couldNotConnect(2));
    QVERIFY2(r.error(2).startsWith("O endereço de e-mail"), qPrintable(r.error(2)));
    QVERIFY(!r.ok(3));
    QVERIFY2(r.error(3).contains("naoexiste.TXT"), qPrintable(r.error(3)));
    QVERIFY(!r.ok(4)); // the second refusal
    QVERIFY2(r.ok(5), qPrintable(r.error(5)));
    QVERIFY(server.waitForMessages(1));
    QTest::qWait(100);
    QCOMPARE(server.messageCount(), 1);

    QCOMPARE(smtpSenderAddress(" central@estacao.com.br "), QString("central@estacao.com.br"));
    QCOMPARE(smtpSenderAddress("Erro"), QString(kNoReplySender));
    QCOMPARE(smtpSenderAddress(""), QString(kNoReplySender));
}

void TestSmtpMailer::refusedRecipientIsToldInTheServersWords() {
    SmtpTestServer::Options o;
    o.refuseRecipient = "550 5.7.1 Relaying denied";
    SmtpTestServer server(o);
    QVERIFY(server.ok());
    QTemporaryDir dir;
    SmtpMailer mailer;
    Results r(mailer);
    mailer.send(account(server), reportMail(writeFile(dir, "Relatorio5.TXT", "x\n")));
    QVERIFY(r.wait(1));
    QVERIFY(!r.ok(0));
    QVERIFY(!r.couldNotConnect(0));
    QCOMPARE(r.answer(0), QString("550 5.7.1 Relaying denied"));
    QVERIFY2(r.error(0).endsWith(" O servidor respondeu: 550 5.7.1 Relaying denied"),
             qPrintable(r.error(0)));
    QVERIFY2(!english(r.error(0)), qPrintable(r.error(0)));
    QCOMPARE(server.messageCount(), 0);
}

void TestSmtpMailer::usesStartTlsAndLoginAndRefusesAnUntrustedCertificate() {
    SmtpTestServer::Options o;
    o.tls = true;
    o.login = "central:s3nha-forte";
    SmtpTestServer server(o);
    QVERIFY(server.ok());
    QTemporaryDir dir;
    const QString path = writeFile(dir, "Relatorio9.TXT", "ok\n");

    SmtpAccount trusted = account(server);
    trusted.caFile = server.caFile();
    trusted.user = "central";
    trusted.password = "s3nha-forte";
    SmtpAccount untrusted = trusted;
    untrusted.caFile.clear(); // the system's authorities do not know this certificate
    SmtpAccount wrongPassword = trusted;
    wrongPassword.password = "errada-123";
    SmtpAccount noLogin = trusted;
    noLogin.user.clear();

    SmtpMailer mailer;
    Results r(mailer);
    mailer.send(trusted, reportMail(path));
    mailer.send(untrusted, reportMail(path));
    mailer.send(wrongPassword, reportMail(path));
    mailer.send(noLogin, reportMail(path));
    QVERIFY(r.wait(4));

    QVERIFY2(r.ok(0), qPrintable(r.error(0)));
    QVERIFY(server.waitForMessages(1));
    QCOMPARE(server.session(1)["tls"].toBool(), true);
    QCOMPARE(server.session(1)["login"].toString(), QString("central"));

    QVERIFY(!r.ok(1));
    QVERIFY(r.couldNotConnect(1));
    QVERIFY2(r.error(1).startsWith("O certificado do servidor SMTP 127.0.0.1:"), qPrintable(r.error(1)));
    QVERIFY(!r.ok(2));
    QVERIFY(!r.couldNotConnect(2));
    QVERIFY2(r.error(2).contains("recusou o usuário ou a senha"), qPrintable(r.error(2)));
    QVERIFY(!r.ok(3)); // the server asks for a login that was not configured
    for (int i = 1; i < 4; ++i) {
        QVERIFY2(!english(r.error(i)), qPrintable(r.error(i)));
        QVERIFY(!r.error(i).contains("s3nha-forte"));
        QVERIFY(!r.error(i).contains("errada-123"));
    }
    QCOMPARE(server.messageCount(), 1);
}

void TestSmtpMailer::silentServerTimesOutWhileTheEventLoopRunsAndAbortEndsAtOnce() {
    SmtpTestServer::Options o;
    o.silent = true;
    SmtpTestServer server(o);
    QVERIFY(server.ok());
    QTemporaryDir dir;
    const QString path = writeFile(dir, "Relatorio1.TXT", "x\n");
    SmtpAccount a = account(server);
    a.timeoutSeconds = 2;

    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();

    SmtpMailer mailer;
    Results r(mailer);
    QElapsedTimer clock;
    clock.start();
    mailer.send(a, reportMail(path));
    QVERIFY(r.wait(1, 10000));
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= 1800 && took < 4000, qPrintable(QString::number(took)));
    QVERIFY(!r.ok(0));
    QVERIFY(r.couldNotConnect(0));
    QCOMPARE(r.error(0), "O servidor SMTP 127.0.0.1:" + QString::number(server.port()) +
                             " não respondeu em 2 segundos.");
    // The window's loop went on: a 10 ms timer fired through the whole wait.
    QVERIFY2(ticks > took / 10 / 2, qPrintable(QString::number(ticks)));

    // abort() ends the attempt in progress and the one waiting behind it.
    a.timeoutSeconds = 30;
    mailer.send(a, reportMail(path));
    mailer.send(a, reportMail(path));
    QTest::qWait(300);
    QCOMPARE(r.spy.size(), 1);
    clock.restart();
    mailer.abort();
    QVERIFY(r.wait(3, 2000));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!r.ok(1) && !r.couldNotConnect(1) && r.error(1).contains("cancelado"));
    QVERIFY(!r.ok(2) && r.error(2).contains("cancelado"));

    // A later send is not cancelled by the earlier abort; destroying the mailer ends it.
    auto *later = new SmtpMailer;
    later->send(a, reportMail(path));
    QTest::qWait(200);
    clock.restart();
    delete later;
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

void TestSmtpMailer::desktopClientGetsExactlyTheArguments() {
    QTemporaryDir bin;
    const QString argsFile = bin.filePath("args");
    const QString handlerFile = bin.filePath("handler");
    auto script = [&](const QString &name, const QByteArray &text) {
        const QString p = writeFile(bin, name, "#!/bin/sh\n" + text);
        QFile::setPermissions(p, QFile::permissions(p) | QFileDevice::ExeOwner);
    };
    // Each argument ended by a NUL byte, so blanks and line breaks stay visible.
    script("xdg-email", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + argsFile.toUtf8() +
                            ".part'\nmv '" + argsFile.toUtf8() + ".part' '" + argsFile.toUtf8() + "'\n");
    script("xdg-mime", "cat '" + handlerFile.toUtf8() + "' 2>/dev/null\n");
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":/usr/bin:/bin");

    QVERIFY(!desktopMailClientAvailable()); // no handler of mailto: links
    writeFile(bin, "handler", "correio.desktop\n");
    QVERIFY(desktopMailClientAvailable());

    QTemporaryDir dir;
    const QString path = writeFile(dir, "Relatorio001234.TXT", "r\n");
    MailMessage m = reportMail(path);
    m.subject = "Relatorio de Eventos";
    m.body = "Corpo com  dois espaços\nlinha 2";
    QVERIFY(sendWithDesktopClient(m));
    QVERIFY(waitFor([&] { return QFile::exists(argsFile); }, 5000));
    QFile f(argsFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> got = f.readAll().split('\0');
    const QList<QByteArray> expected{"--subject", "Relatorio de Eventos", "--body",
                                     "Corpo com  dois espaços\nlinha 2", "--attach",
                                     path.toUtf8(), "cliente@teste.local", ""};
    QCOMPARE(got, expected);

    QFile::remove(bin.filePath("xdg-email"));
    QVERIFY(!desktopMailClientAvailable());
    QVERIFY(!sendWithDesktopClient(m));
    qputenv("PATH", oldPath);
}

QTEST_GUILESS_MAIN(TestSmtpMailer)
#include "test_smtpmailer.moc"
