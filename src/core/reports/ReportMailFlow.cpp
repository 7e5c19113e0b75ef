#include "core/reports/ReportMailFlow.h"

#include "core/common/Clock.h"
#include "core/common/Prompt.h"
#include "core/reports/ReportLayout.h"
#include "core/reports/ReportRepository.h"
#include "core/reports/ReportSource.h"
#include "core/settings/LiveSettings.h"

#include <QDir>
#include <QSet>
#include <QThread>

#include <atomic>
#include <memory>

namespace tulmo {

namespace {
const QString kTodas = QStringLiteral("Todas");
constexpr int kPauseMs = 1000;
} // namespace

ReportMailFlow::ReportMailFlow(ReportSource &source, QSqlDatabase db, const LiveSettings &settings,
                               Prompt *prompt, const Clock &clock, QString programDir,
                               QObject *parent)
    : QObject(parent)
    , m_source(source)
    , m_db(std::move(db))
    , m_settings(settings)
    , m_prompt(prompt)
    , m_clock(clock)
    , m_programDir(std::move(programDir)) {
    m_pause.setSingleShot(true);
    m_pause.setInterval(kPauseMs);
    connect(&m_pause, &QTimer::timeout, this, &ReportMailFlow::pauseOver);
    connect(&m_source, &ReportSource::exported, this, &ReportMailFlow::exported);
    connect(&m_source, &ReportSource::mailAccountsRead, this, &ReportMailFlow::mailAccountsRead);
    // Emitted on the mailer's thread: queued here, in the order the attempts ended.
    connect(&m_mailer, &SmtpMailer::finished, this, &ReportMailFlow::mailerFinished);
}

QString ReportMailFlow::reportFile(const QString &conta) const {
    return QDir(m_programDir)
        .filePath(QStringLiteral("Relatorio") + conta + QStringLiteral(".TXT"));
}

bool ReportMailFlow::start(const ReportSelection &sel, const QStringList &accounts) {
    if (m_running) return false;
    m_sel = sel;
    m_accounts = accounts;
    m_cancelled = false;
    if (!m_settings.defaultMailClient()) {
        m_desktop = false;
        return begin();
    }
    // Asking the desktop for its mail client runs a program: off the event loop. Until the
    // answer comes the flow counts as running, so the window waits for it.
    m_running = true;
    auto found = std::make_shared<std::atomic_bool>(false);
    QThread *probe = QThread::create([found] { *found = desktopMailClientAvailable(); });
    connect(probe, &QThread::finished, probe, &QObject::deleteLater);
    connect(probe, &QThread::finished, this, [this, found] {
        m_running = false;
        m_desktop = *found;
        if (m_cancelled) setStatus(QStringLiteral("Envio cancelado pelo operador."));
        if (m_cancelled || !begin()) {
            emit progressChanged(0, 0);
            emit finished();
        }
    });
    probe->start();
    return true;
}

bool ReportMailFlow::begin() {
    if (!m_desktop) {
        bool ok = false;
        m_port = m_settings.mailPort().trimmed().toInt(&ok, 10);
        if (!ok || m_port < 1 || m_port > 65535) {
            message(QStringLiteral("A porta do servidor SMTP (\"%1\") não é um número de porta "
                                   "válido. Corrija a porta em Configurações, Opções.")
                        .arg(m_settings.mailPort()));
            return false;
        }
    }
    emit progressChanged(0, 0);
    m_index = -1;
    m_all = m_sel.conta == kTodas;
    if (!m_all) {
        const AccountContact c = ReportRepository::contact(m_db, m_sel.conta);
        if (c.email.isEmpty()) {
            message(QStringLiteral("O e-mail do cliente ") + m_sel.conta +
                    QStringLiteral(" não foi cadastrado!"));
            return false;
        }
        m_running = true;
        m_accounts = {m_sel.conta};
        SendReportMail(m_sel.conta, c.email, c.nome);
        return true;
    }
    // Only the accounts that have an e-mail are walked, and counted by the gauge: a station of
    // tens of thousands of accounts mails its few reports without a look at every other one.
    m_running = true;
    m_step = Step::Listing;
    m_source.readMailAccounts();
    return true;
}

void ReportMailFlow::mailAccountsRead(bool ok, const QStringList &withEmail,
                                      const QString &error) {
    if (m_step != Step::Listing) return;
    m_step = Step::Idle;
    if (m_cancelled) return finish(QStringLiteral("Envio cancelado pelo operador."));
    if (!ok) {
        message(QStringLiteral("Não foi possível ler os e-mails dos clientes: ") + error);
        return finish();
    }
    // In the order of the account list, as the operator sees it.
    const QSet<QString> mailed(withEmail.cbegin(), withEmail.cend());
    QStringList walk;
    for (const QString &conta : std::as_const(m_accounts))
        if (mailed.contains(conta)) walk << conta;
    m_accounts = walk;
    emit progressChanged(0, int(m_accounts.size()));
    QTimer::singleShot(0, this, &ReportMailFlow::nextAccount);
}

// One account per turn of the event loop, reception going on between them.
void ReportMailFlow::nextAccount() {
    if (!m_running) return;
    if (m_cancelled) return finish(QStringLiteral("Envio cancelado pelo operador."));
    if (++m_index >= m_accounts.size()) return finish();
    const QString conta = m_accounts.at(m_index);
    emit accountSelected(conta);
    emit progressChanged(m_index + 1, int(m_accounts.size()));
    // Looked up again as it is mailed: an e-mail removed meanwhile is passed over silently.
    const AccountContact c = ReportRepository::contact(m_db, conta);
    if (c.email.isEmpty()) {
        QTimer::singleShot(0, this, &ReportMailFlow::nextAccount);
        return;
    }
    SendReportMail(conta, c.email, c.nome);
}

void ReportMailFlow::SendReportMail(const QString &conta, const QString &to, const QString &nome) {
    m_conta = conta;
    m_to = to;
    m_nome = nome;
    m_step = Step::Exporting;
    setStatus(QStringLiteral("Gerando o relatório em formato texto"));
    ReportPageInfo info;
    info.title = mailReportTitle(conta, nome);
    info.company = m_settings.companyName();
    info.printedAt = m_clock.now();
    m_source.exportText(buildMailReportQuery(m_sel, conta), ReportLayout::of(m_sel.complete),
                        info, reportFile(conta));
}

void ReportMailFlow::exported(bool ok, const QString &error) {
    if (m_step != Step::Exporting) return;
    if (m_cancelled) return finish(QStringLiteral("Envio cancelado pelo operador."));
    if (!ok) {
        message(QStringLiteral("Não foi possível gerar o relatório do cliente %1 (%2): %3")
                    .arg(m_conta, reportFile(m_conta), error));
        return accountDone();
    }
    m_step = Step::WaitAttach;
    m_pause.start();
}

void ReportMailFlow::pauseOver() {
    if (m_step == Step::WaitAttach)
        attach();
    else if (m_step == Step::WaitSend)
        submit();
}

void ReportMailFlow::attach() {
    setStatus(QStringLiteral("Anexando relatório ao E-mail..."));
    m_step = Step::WaitSend;
    m_pause.start();
}

MailMessage ReportMailFlow::mailMessage() const {
    MailMessage m;
    m.toName = m_to;
    m.toAddress = m_to;
    m.body = m_settings.mailBody();
    m.attachmentPath = reportFile(m_conta);
    if (m_desktop) {
        m.fromName = m_settings.mailAddress();
        m.fromAddress = m_settings.mailAddress();
        m.subject = QStringLiteral("Relatorio de Eventos");
    } else {
        m.fromName = m_settings.companyName();
        m.fromAddress = smtpSenderAddress(m_settings.mailAddress());
        m.subject = QStringLiteral("Relatório de Eventos");
        m.highestPriority = true;
    }
    return m;
}

void ReportMailFlow::submit() {
    setStatus(QStringLiteral("Enviando ") + m_to);
    if (m_desktop) {
        m_step = Step::Idle;
        // What the mail client does with the message is its own affair; a client that could
        // not even be started is not reported as sent.
        if (sendWithDesktopClient(mailMessage()))
            setStatus(QStringLiteral("Email enviado : ") + m_to);
        else
            message(QStringLiteral("O programa de e-mail não pôde ser aberto para enviar o "
                                   "relatório a ") +
                    m_to + QLatin1Char('.'));
        return accountDone();
    }
    SmtpAccount account;
    account.host = m_settings.smtp().trimmed();
    account.port = m_port;
    account.timeoutSeconds = m_timeoutSeconds;
    m_step = Step::Sending;
    m_attempt = 1;
    m_mailer.send(account, mailMessage());
}

void ReportMailFlow::mailerFinished(bool ok, bool couldNotConnect, const QString &error,
                                    const QString &serverAnswer) {
    if (m_step != Step::Sending) return;
    if (m_cancelled) return finish(QStringLiteral("Envio cancelado pelo operador."));
    if (ok) {
        setStatus(QStringLiteral("Email enviado : ") + m_to);
        return accountDone();
    }
    if (couldNotConnect) { // the server cannot be reached: no other account would fare better
        message(error);
        return finish();
    }
    const QString failed = QStringLiteral("Erro ao tentar enviar o email para ") + m_to;
    if (m_attempt == 1) {
        message(failed + QStringLiteral(" 1ª Tentativa"));
        if (m_cancelled) return finish(QStringLiteral("Envio cancelado pelo operador."));
        m_attempt = 2;
        SmtpAccount account;
        account.host = m_settings.smtp().trimmed();
        account.port = m_port;
        account.timeoutSeconds = m_timeoutSeconds;
        m_mailer.send(account, mailMessage());
        return;
    }
    message(failed + QStringLiteral(" 2ª Tentativa"));
    // The last box says why: the server's own answer, or what went wrong on the way.
    const QString why = serverAnswer.isEmpty()
                            ? error
                            : QStringLiteral("O servidor respondeu: ") + serverAnswer;
    message(QStringLiteral("Não pode enviar o email para ") + m_to +
            QStringLiteral("\n\nVerifique as configurações da conta!") +
            (why.isEmpty() ? QString() : QStringLiteral("\n\n") + why));
    accountDone();
}

void ReportMailFlow::accountDone() {
    m_step = Step::Idle;
    if (m_all)
        QTimer::singleShot(0, this, &ReportMailFlow::nextAccount);
    else
        finish();
}

void ReportMailFlow::cancel() {
    if (!m_running) return;
    m_cancelled = true;
    switch (m_step) {
    case Step::Exporting:
        m_source.cancel();
        break; // exported() ends it
    case Step::Sending:
        m_mailer.abort();
        break; // mailerFinished() ends it
    case Step::Listing:
        break; // mailAccountsRead() ends it
    case Step::WaitAttach:
    case Step::WaitSend:
        m_pause.stop();
        finish(QStringLiteral("Envio cancelado pelo operador."));
        break;
    case Step::Idle:
        break; // between accounts: nextAccount() ends it
    }
}

void ReportMailFlow::finish(const QString &status) {
    if (!m_running) return;
    m_running = false;
    m_step = Step::Idle;
    m_pause.stop();
    if (!status.isEmpty()) setStatus(status);
    if (m_all) emit accountSelected(kTodas);
    emit progressChanged(0, 0);
    emit finished();
}

void ReportMailFlow::setStatus(const QString &text) {
    emit statusChanged(text);
}

void ReportMailFlow::message(const QString &text) {
    if (m_prompt)
        m_prompt->message(text, QStringLiteral("Relatórios de Eventos"), Prompt::Icon::Warning);
}

} // namespace tulmo
