#include "core/reports/SmtpMailer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>
#include <QUuid>

#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <mutex>
#include <optional>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tulmo {

struct SmtpMailerState {
    CURLM *multi = nullptr;
    std::atomic<quint64> sent{0};        // attempts handed to the worker so far
    std::atomic<quint64> abortedUpTo{0}; // attempts up to this number are to end at once
};

namespace {

struct Outcome {
    bool ok = false;
    bool couldNotConnect = false;
    QString error;
    QString serverAnswer;
};

// Control characters in a header would start a header of the sender's choosing.
QString oneLine(const QString &text) {
    QString out = text;
    for (QChar &c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char(' ');
    return out.trimmed();
}

bool plainAscii(const QString &text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
    return true;
}

// Non-ASCII header text as encoded words, each under the 75-character limit and cut between
// characters, never inside one.
QByteArray encodedWords(const QString &text) {
    QByteArrayList words;
    QByteArray chunk;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray ch = text.mid(i, n).toUtf8();
        i += n - 1;
        if (chunk.size() + ch.size() > 45) {
            words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
            chunk.clear();
        }
        chunk += ch;
    }
    if (!chunk.isEmpty()) words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
    return words.join(' ');
}

QByteArray headerText(const QString &text) {
    const QString line = oneLine(text);
    return plainAscii(line) ? line.toLatin1() : encodedWords(line);
}

// "Name <address>", the name quoted when it holds specials, encoded when it is not ASCII.
QByteArray mailbox(const QString &name, const QString &address) {
    const QString n = oneLine(name);
    const QByteArray addr = address.trimmed().toUtf8();
    if (n.isEmpty()) return addr;
    QByteArray phrase;
    if (!plainAscii(n)) {
        phrase = encodedWords(n);
    } else {
        static const QRegularExpression atoms(QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~ -]+$"));
        if (atoms.match(n).hasMatch()) {
            phrase = n.toLatin1();
        } else {
            QString q = n;
            q.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
            phrase = '"' + q.toLatin1() + '"';
        }
    }
    return phrase + " <" + addr + '>';
}

// Mail wants CR LF between lines, whatever the settings file held.
QByteArray crlfText(const QString &text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.replace(QLatin1Char('\n'), QLatin1String("\r\n")).toUtf8();
}

// Report files are UTF-8; older ones, written by the Windows console, are Windows-1252.
QByteArray attachmentType(const QString &fileName, const QByteArray &bytes) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("txt") && suffix != QLatin1String("csv"))
        return "application/octet-stream";
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes); // decoded only when turned into a string
    return utf8.hasError() ? "text/plain; charset=windows-1252" : "text/plain; charset=UTF-8";
}

QString serverName(const SmtpAccount &a) {
    return QStringLiteral("%1:%2").arg(a.host).arg(a.port);
}

// The mail library's failures, as the operator reads them. Its own texts are English, and
// its error buffer adds English detail: neither reaches the operator; what the server said
// is told apart, in its own words.
QString curlReason(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return QString();
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return QStringLiteral("o endereço do servidor não é válido");
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("o nome do servidor intermediário (proxy) não foi encontrado");
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("o nome do servidor não foi encontrado");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("a conexão foi recusada ou o servidor não pôde ser alcançado");
    case CURLE_WEIRD_SERVER_REPLY:
        return QStringLiteral("o servidor deu uma resposta que não era a esperada");
    case CURLE_REMOTE_ACCESS_DENIED:
        return QStringLiteral("o servidor negou o acesso");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("o tempo de espera pela resposta do servidor se esgotou");
    case CURLE_SEND_ERROR:
        return QStringLiteral("o servidor recusou o envio ou a conexão caiu durante o envio");
    case CURLE_RECV_ERROR:
        return QStringLiteral("a resposta do servidor não pôde ser recebida");
    case CURLE_GOT_NOTHING:
        return QStringLiteral("o servidor fechou a conexão sem responder");
    case CURLE_READ_ERROR:
        return QStringLiteral("a mensagem não pôde ser lida para o envio");
    case CURLE_OUT_OF_MEMORY:
        return QStringLiteral("faltou memória para montar a mensagem");
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("o envio foi interrompido");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("a negociação da conexão segura (TLS) falhou");
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("o certificado do servidor não é confiável ou não é deste servidor");
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("o arquivo das autoridades certificadoras não pôde ser lido");
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
        return QStringLiteral("a conexão segura não pôde ser configurada");
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("o servidor não ofereceu a conexão segura exigida");
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return QStringLiteral("o usuário ou a senha foram recusados");
    default:
        return QStringLiteral("falha de comunicação (código %1 da biblioteca de e-mail)")
            .arg(int(code));
    }
}

// " O servidor respondeu: 550 5.7.1 Relaying denied" when it said why.
QString answered(const QString &serverAnswer) {
    return serverAnswer.isEmpty() ? QString()
                                  : QStringLiteral(" O servidor respondeu: ") + serverAnswer;
}

Outcome failure(const SmtpAccount &a, CURLcode code, long serverReply, const QString &to,
                const QString &serverAnswer) {
    const QString server = serverName(a);
    const QString reason = curlReason(code) + QLatin1Char('.') + answered(serverAnswer);
    auto outcome = [&](bool couldNotConnect, const QString &text) {
        return Outcome{false, couldNotConnect, text, serverAnswer};
    };
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return outcome(true, QStringLiteral("Não foi possível conectar ao servidor SMTP %1: %2")
                                 .arg(server, reason));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return outcome(true,
                       QStringLiteral("O certificado do servidor SMTP %1 não pôde ser verificado; "
                                      "o e-mail não foi enviado para não expor a mensagem e a "
                                      "senha: %2")
                           .arg(server, reason));
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
        return outcome(true, QStringLiteral("Falha ao estabelecer a conexão segura com o "
                                            "servidor SMTP %1: %2")
                                 .arg(server, reason));
    case CURLE_OPERATION_TIMEDOUT:
        // Without a single reply the server was never reached as a mail server.
        return outcome(serverReply == 0,
                       QStringLiteral("O servidor SMTP %1 não respondeu em %2 segundos.%3")
                           .arg(server)
                           .arg(a.timeoutSeconds)
                           .arg(answered(serverAnswer)));
    case CURLE_LOGIN_DENIED:
        return outcome(false, QStringLiteral("O servidor SMTP %1 recusou o usuário ou a senha.%2")
                                  .arg(server, answered(serverAnswer)));
    default:
        return outcome(false, QStringLiteral("O servidor SMTP %1 não aceitou o e-mail para %2: %3")
                                  .arg(server, to, reason));
    }
}

// What can be told before a connection is made.
std::optional<Outcome> checkInput(const SmtpAccount &a, const MailMessage &m) {
    static const QRegularExpression badHost(QStringLiteral("[\\s/@<>]"));
    if (a.host.trimmed().isEmpty() || badHost.match(a.host.trimmed()).hasMatch())
        return Outcome{false, true,
                       QStringLiteral("O servidor SMTP \"%1\" não é um nome de servidor válido. "
                                      "Verifique as configurações de e-mail.")
                           .arg(a.host)};
    if (a.port < 1 || a.port > 65535)
        return Outcome{false, true,
                       QStringLiteral("A porta %1 do servidor SMTP não é válida (1 a 65535).").arg(a.port)};
    if (!isMailAddress(m.toAddress))
        return Outcome{false, false,
                       QStringLiteral("O endereço de e-mail \"%1\" não é válido.").arg(m.toAddress)};
    if (!isMailAddress(m.fromAddress))
        return Outcome{false, false,
                       QStringLiteral("O endereço do remetente \"%1\" não é válido.").arg(m.fromAddress)};
    return std::nullopt;
}

struct CurlResources {
    // The attempt's connection, so that abort() can cut it: left to itself, curl would say
    // QUIT to a server that may never answer and wait for the reply.
    std::vector<curl_socket_t> sockets;
    CURL *easy = nullptr;
    curl_mime *mime = nullptr;
    curl_slist *headers = nullptr;
    curl_slist *recipients = nullptr;
    // The server's last refusal (a reply of code 4xx or 5xx), as it wrote it.
    QByteArray refusal;
    ~CurlResources() {
        curl_slist_free_all(headers);
        curl_slist_free_all(recipients);
        if (mime) curl_mime_free(mime);
        if (easy) curl_easy_cleanup(easy);
    }
};

void buildMessage(CurlResources &r, const MailMessage &m, const QByteArray &attachment) {
    const QString from = m.fromAddress.trimmed();
    const QString domain = from.mid(from.indexOf(QLatin1Char('@')) + 1);
    QByteArrayList lines{
        "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1(),
        "From: " + mailbox(m.fromName, from),
        "To: " + mailbox(m.toName, m.toAddress),
        "Subject: " + headerText(m.subject),
        "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@' +
            domain.toUtf8() + '>',
    };
    if (m.highestPriority) lines << "X-Priority: 1" << "Importance: High";
    for (const QByteArray &l : lines) r.headers = curl_slist_append(r.headers, l.constData());

    r.mime = curl_mime_init(r.easy);
    curl_mimepart *text = curl_mime_addpart(r.mime);
    const QByteArray body = crlfText(m.body);
    curl_mime_data(text, body.constData(), size_t(body.size()));
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");
    if (!m.attachmentPath.isEmpty()) {
        const QString name = QFileInfo(m.attachmentPath).fileName();
        curl_mimepart *file = curl_mime_addpart(r.mime);
        curl_mime_data(file, attachment.constData(), size_t(attachment.size()));
        curl_mime_filename(file, headerText(name).constData());
        curl_mime_type(file, attachmentType(name, attachment).constData());
        curl_mime_encoder(file, "base64");
    }
}

curl_socket_t openSocket(void *resources, curlsocktype, curl_sockaddr *address) {
    const curl_socket_t fd = ::socket(address->family, address->socktype, address->protocol);
    if (fd != CURL_SOCKET_BAD) static_cast<CurlResources *>(resources)->sockets.push_back(fd);
    return fd;
}

int closeSocket(void *resources, curl_socket_t fd) {
    std::erase(static_cast<CurlResources *>(resources)->sockets, fd);
#ifdef Q_OS_WIN
    return ::closesocket(fd);
#else
    return ::close(fd);
#endif
}

// Every reply line of the server passes here; the last refusal is kept to tell the operator
// why. Nothing the console sends (the password among it) is looked at.
int serverLine(CURL *, curl_infotype type, char *data, size_t size, void *resources) {
    if (type != CURLINFO_HEADER_IN) return 0;
    QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
    if (line.size() >= 3 && (line[0] == '4' || line[0] == '5') && std::isdigit(uchar(line[1])) &&
        std::isdigit(uchar(line[2]))) {
        if (line.size() > 3 && line[3] == '-') line[3] = ' '; // a line of a longer reply
        static_cast<CurlResources *>(resources)->refusal = line;
    }
    return 0;
}

void cutConnection(CurlResources &r) {
    for (curl_socket_t fd : r.sockets)
#ifdef Q_OS_WIN
        ::shutdown(fd, SD_BOTH);
#else
        ::shutdown(fd, SHUT_RDWR);
#endif
}

void setOptions(CurlResources &r, const SmtpAccount &a, const MailMessage &m) {
    QString host = a.host.trimmed();
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['))) host = '[' + host + ']';
    // 465 is the port of TLS from the first byte; every other port starts plain and is
    // raised with STARTTLS when the server offers it.
    const char *scheme = a.port == 465 ? "smtps" : "smtp";
    const QByteArray url = QStringLiteral("%1://%2:%3").arg(QLatin1String(scheme), host).arg(a.port).toUtf8();
    CURL *e = r.easy;
    curl_easy_setopt(e, CURLOPT_URL, url.constData()); // copied by curl, like every string
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A connection kept from an earlier attempt would carry that attempt's trust in the
    // server's certificate: every attempt connects anew and says QUIT at the end.
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &r);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &closeSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &r);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &serverLine);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, &r);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L); // what feeds serverLine; nothing is printed
    curl_easy_setopt(e, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!a.caFile.isEmpty()) curl_easy_setopt(e, CURLOPT_CAINFO, QFile::encodeName(a.caFile).constData());
    if (!a.user.isEmpty() && !a.password.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, a.user.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, a.password.toUtf8().constData());
    }
    // Every reply of the server within the time-out, the connection too, and the whole
    // attempt within four times it (the attachment may be large on a slow line).
    const long t = std::max(1, a.timeoutSeconds);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, t);
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, t);
    curl_easy_setopt(e, CURLOPT_TIMEOUT, 4 * t);
    const QByteArray from = '<' + m.fromAddress.trimmed().toUtf8() + '>';
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, from.constData());
    r.recipients = curl_slist_append(r.recipients, ('<' + m.toAddress.trimmed().toUtf8() + '>').constData());
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, r.recipients);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headers);
    curl_easy_setopt(e, CURLOPT_MIMEPOST, r.mime);
}

Outcome cancelled(const MailMessage &m) {
    return {false, false, QStringLiteral("O envio do e-mail para %1 foi cancelado.").arg(m.toAddress)};
}

// Runs one attempt on the worker thread. The multi interface lets abort() wake the wait at
// once instead of at the next progress call.
Outcome runAttempt(SmtpMailerState &s, quint64 seq, const SmtpAccount &a, const MailMessage &m) {
    auto aborted = [&] { return seq <= s.abortedUpTo.load(); };
    if (aborted()) return cancelled(m);
    if (auto bad = checkInput(a, m)) return *bad;
    QByteArray attachment;
    if (!m.attachmentPath.isEmpty()) {
        QFile f(m.attachmentPath);
        if (!f.open(QIODevice::ReadOnly))
            return {false, false,
                    QStringLiteral("Não foi possível ler o anexo %1: %2").arg(m.attachmentPath, f.errorString())};
        attachment = f.readAll();
    }
    CurlResources r;
    r.easy = curl_easy_init();
    if (!r.easy) return {false, false, QStringLiteral("Não foi possível preparar o envio do e-mail.")};
    buildMessage(r, m, attachment);
    setOptions(r, a, m);

    curl_multi_add_handle(s.multi, r.easy);
    int running = 1;
    bool stopped = false;
    while (running) {
        if (curl_multi_perform(s.multi, &running) != CURLM_OK) break;
        if (!running) break;
        if (aborted() && !stopped) {
            // Once cut, the connection fails at once and curl closes it without a word.
            stopped = true;
            cutConnection(r);
        }
        curl_multi_poll(s.multi, nullptr, 0, stopped ? 50 : 1000, nullptr);
    }
    CURLcode code = CURLE_OK;
    int left = 0;
    while (CURLMsg *msg = curl_multi_info_read(s.multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == r.easy) code = msg->data.result;
    long serverReply = 0;
    curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &serverReply);
    curl_multi_remove_handle(s.multi, r.easy);
    if (stopped) return cancelled(m);
    if (running) return {false, false, QStringLiteral("Falha interna ao enviar o e-mail para %1.").arg(m.toAddress)};
    if (code != CURLE_OK)
        return failure(a, code, serverReply, m.toAddress,
                       QString::fromUtf8(r.refusal));
    return {true, false, QString()};
}

} // namespace

QString smtpSenderAddress(const QString &enderecoEmail) {
    return isMailAddress(enderecoEmail) ? enderecoEmail.trimmed() : QString::fromLatin1(kNoReplySender);
}

bool isMailAddress(const QString &text) {
    static const QRegularExpression address(
        QStringLiteral("^[^\\s<>()\\[\\],;:\"@\\\\]+@[^\\s<>()\\[\\],;:\"@\\\\]+$"));
    return address.match(text.trimmed()).hasMatch();
}

SmtpMailer::SmtpMailer(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<SmtpMailerState>())
    , m_thread(new QThread)
    , m_worker(new QObject) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_shared->multi = curl_multi_init();
    m_worker->moveToThread(m_thread);
    m_thread->setObjectName(QStringLiteral("SmtpMailer"));
    m_thread->start();
}

SmtpMailer::~SmtpMailer() {
    abort();
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
    curl_multi_cleanup(m_shared->multi);
}

void SmtpMailer::send(const SmtpAccount &account, const MailMessage &message) {
    const quint64 seq = ++m_shared->sent;
    QMetaObject::invokeMethod(
        m_worker,
        [this, shared = m_shared, seq, account, message] {
            const Outcome o = runAttempt(*shared, seq, account, message);
            // Posted to the mailer: delivered on its thread, in the order of the attempts.
            QMetaObject::invokeMethod(
                this,
                [this, o] { emit finished(o.ok, o.couldNotConnect, o.error, o.serverAnswer); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void SmtpMailer::abort() {
    m_shared->abortedUpTo.store(m_shared->sent.load());
    curl_multi_wakeup(m_shared->multi);
}

bool desktopMailClientAvailable() {
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-email")).isEmpty()) return false;
    const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (mime.isEmpty()) return true; // nothing to ask: xdg-email will find its own way
    // The handler of mailto: links is the desktop's mail client; without one xdg-email would
    // open nothing and the mail would silently not leave.
    QProcess p;
    p.start(mime, {QStringLiteral("query"), QStringLiteral("default"),
                   QStringLiteral("x-scheme-handler/mailto")});
    if (!p.waitForFinished(2000)) {
        p.kill();
        p.waitForFinished(500);
        return false;
    }
    return p.exitCode() == 0 && !p.readAllStandardOutput().trimmed().isEmpty();
}

bool sendWithDesktopClient(const MailMessage &message) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
    if (program.isEmpty() || !isMailAddress(message.toAddress)) return false;
    QStringList args{QStringLiteral("--subject"), message.subject, QStringLiteral("--body"), message.body};
    if (!message.attachmentPath.isEmpty())
        args << QStringLiteral("--attach") << QFileInfo(message.attachmentPath).absoluteFilePath();
    args << message.toAddress.trimmed();
    // Detached: xdg-email may stay until the operator closes the composer.
    return QProcess::startDetached(program, args);
}

} // namespace tulmo
