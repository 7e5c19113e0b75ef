// tulmo-simulador: a station's devices without hardware, to try the console and the reception
// service and to measure them: GPRS modules and DC-09 panels over the network, an alarm
// receiver on a pseudo-terminal; and the set-up that makes a new station answer them.

#include "sim/Dc09Panels.h"
#include "sim/GprsFleet.h"
#include "sim/SerialReceiver.h"
#include "sim/StationSetup.h"

#include "core/common/DescriptorLimit.h"
#include "core/reception/Dc09Message.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

using namespace tulmo::sim;

namespace {

bool parseAddress(const QString &text, Address *out) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = (colon >= 0 ? text.mid(colon + 1) : text).toInt(&ok);
    if (!ok || port < 1 || port > 65535) return false;
    if (colon > 0) out->host = text.left(colon);
    out->port = quint16(port);
    return true;
}

double percentile(const QList<double> &sorted, double p) {
    if (sorted.isEmpty()) return 0;
    const qsizetype rank = std::max<qsizetype>(1, qsizetype(std::ceil(p * double(sorted.size()))));
    return sorted[std::min(rank, sorted.size()) - 1];
}

int fail(const QString &text) {
    std::fprintf(stderr, "tulmo-simulador: %s\n", qPrintable(text));
    return 2;
}

void say(const QString &text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

QString latencyLine(const QList<double> &l) {
    return QStringLiteral("confirmação: p50 %1 ms, p99 %2 ms, máx %3 ms")
        .arg(percentile(l, 0.5), 0, 'f', 1)
        .arg(percentile(l, 0.99), 0, 'f', 1)
        .arg(l.isEmpty() ? 0.0 : l.last(), 0, 'f', 1);
}

struct Options {
    QCommandLineOption help{QStringList{QStringLiteral("ajuda"), QStringLiteral("h")},
                            QStringLiteral("Mostra esta ajuda.")};
    QCommandLineOption server{
        QStringLiteral("servidor"),
        QStringLiteral("Módulos GPRS: endereço da receptora TCP (host:porta)."),
        QStringLiteral("host:porta")};
    QCommandLineOption backup{QStringLiteral("reserva"),
                              QStringLiteral("Endereço reserva dos módulos, tentado a cada segunda "
                                             "falha de conexão (host:porta)."),
                              QStringLiteral("host:porta")};
    QCommandLineOption modules{QStringLiteral("modulos"),
                               QStringLiteral("Quantos módulos (padrão 10)."), QStringLiteral("N"),
                               QStringLiteral("10")};
    QCommandLineOption deviceCode{
        QStringLiteral("equipamento"),
        QStringLiteral("Código de equipamento com que os módulos se identificam: 02 (módulo GPRS), "
                       "00, 01 ou 05 (receptoras IP) ou 06 (painel); padrão 01."),
        QStringLiteral("código"), QStringLiteral("01")};
    QCommandLineOption serial{
        QStringLiteral("serial"),
        QStringLiteral("Faz também uma receptora serial num pseudoterminal e "
                       "mostra o dispositivo a pôr em [Portas] do Config.ini.")};
    QCommandLineOption serialLink{QStringLiteral("link-serial"),
                                  QStringLiteral("Cria este link para o dispositivo da receptora "
                                                 "serial (um nome fixo para [Portas])."),
                                  QStringLiteral("caminho")};
    QCommandLineOption dc09Udp{
        QStringLiteral("dc09-udp"),
        QStringLiteral("Painéis DC-09 por UDP para este endereço (host:porta)."),
        QStringLiteral("host:porta")};
    QCommandLineOption dc09Tcp{
        QStringLiteral("dc09-tcp"),
        QStringLiteral("Painéis DC-09 por TCP para este endereço (host:porta)."),
        QStringLiteral("host:porta")};
    QCommandLineOption panels{
        QStringLiteral("paineis"),
        QStringLiteral("Quantos painéis DC-09 de cada tipo (padrão 10; contas 3001… por UDP, "
                       "4001… por TCP)."),
        QStringLiteral("N"), QStringLiteral("10")};
    QCommandLineOption key{QStringLiteral("chave"),
                           QStringLiteral("Chave AES dos painéis DC-09, em hexadecimal (32, 48 ou "
                                          "64 dígitos): as mensagens vão criptografadas."),
                           QStringLiteral("hex")};
    QCommandLineOption rate{QStringLiteral("eventos-por-segundo"),
                            QStringLiteral("Eventos por segundo de cada tipo de equipamento "
                                           "(padrão 1)."),
                            QStringLiteral("taxa"), QStringLiteral("1")};
    QCommandLineOption seconds{QStringLiteral("duracao"),
                               QStringLiteral("Segundos mandando eventos (padrão 10)."),
                               QStringLiteral("s"), QStringLiteral("10")};
    QCommandLineOption heartbeat{QStringLiteral("batimento"),
                                 QStringLiteral("Segundos entre dois batimentos (ou testes de link "
                                                "DC-09) de um equipamento parado (padrão 30)."),
                                 QStringLiteral("s"), QStringLiteral("30")};
    QCommandLineOption scenario{
        QStringLiteral("cenario"),
        QStringLiteral("O que os equipamentos fazem: normal (eventos na taxa dada), rajada (cada "
                       "módulo manda --eventos-por-modulo eventos de uma vez ao se identificar), "
                       "queda-de-energia (cada módulo avisa a falta de energia e, 5 s depois, a "
                       "volta; 10000 módulos se --modulos não for dado), disparo (o primeiro "
                       "módulo manda 2 eventos por segundo além da taxa), link-lento (cada quadro "
                       "vai em pedaços de 3 bytes) ou receptora-calada (a receptora serial fala "
                       "3 s e se cala por --silencio segundos)."),
        QStringLiteral("nome"), QStringLiteral("normal")};
    QCommandLineOption perModule{QStringLiteral("eventos-por-modulo"),
                                 QStringLiteral("Eventos de cada módulo na rajada (padrão 10)."),
                                 QStringLiteral("N"), QStringLiteral("10")};
    QCommandLineOption silence{QStringLiteral("silencio"),
                               QStringLiteral("Segundos calada da receptora-calada (padrão 100: a "
                                              "central avisa depois de 90)."),
                               QStringLiteral("s"), QStringLiteral("100")};
    QCommandLineOption output{QStringLiteral("saida"),
                              QStringLiteral("Grava cada evento mandado (conta;código;zona;enviado;"
                                             "confirmado, em ms;vezes;origem) neste arquivo."),
                              QStringLiteral("arquivo")};
    QCommandLineOption prepare{
        QStringLiteral("preparar-estacao"),
        QStringLiteral("Não simula: prepara a central desta pasta (com a "
                       "central parada) para responder aos equipamentos: "
                       "receptora TCP em --porta, UDP em --porta-udp, serial "
                       "em --porta-serial, os --modulos cadastrados e a "
                       "--chave das contas dos --paineis."),
        QStringLiteral("pasta")};
    QCommandLineOption port{QStringLiteral("porta"),
                            QStringLiteral("Com --preparar-estacao: porta da receptora TCP (padrão "
                                           "9000)."),
                            QStringLiteral("n"), QStringLiteral("9000")};
    QCommandLineOption udpPort{QStringLiteral("porta-udp"),
                               QStringLiteral("Com --preparar-estacao: porta da receptora UDP."),
                               QStringLiteral("n")};
    QCommandLineOption serialPort{QStringLiteral("porta-serial"),
                                  QStringLiteral("Com --preparar-estacao: dispositivo da receptora "
                                                 "serial (o --link-serial da simulação)."),
                                  QStringLiteral("dispositivo")};
    QList<QCommandLineOption> all() const {
        return {help,    server, backup,  modules, deviceCode, serial,    serialLink, dc09Udp,
                dc09Tcp, panels, key,     rate,    seconds,    heartbeat, scenario,   perModule,
                silence, output, prepare, port,    udpPort,    serialPort};
    }
};

bool number(const QCommandLineParser &p, const QCommandLineOption &o, int low, int high, int *out) {
    bool ok = false;
    *out = p.value(o).toInt(&ok);
    return ok && *out >= low && *out <= high;
}

int prepareStation(const QCommandLineParser &p, const Options &o) {
    StationSetup s;
    s.folder = p.value(o.prepare);
    if (!number(p, o.port, 0, 65535, &s.tcpPort)) return fail(QStringLiteral("--porta inválida"));
    if (p.isSet(o.udpPort) && !number(p, o.udpPort, 1, 65535, &s.udpPort))
        return fail(QStringLiteral("--porta-udp inválida"));
    if (!number(p, o.modules, 0, 100000, &s.modules))
        return fail(QStringLiteral("--modulos aceita de 0 a 100000"));
    s.serialDevice = p.value(o.serialPort);
    if (p.isSet(o.key)) {
        s.key = tulmo::Dc09Codec::keyFromHex(p.value(o.key));
        if (s.key.isEmpty())
            return fail(QStringLiteral("--chave precisa de 32, 48 ou 64 dígitos hexadecimais"));
        if (!number(p, o.panels, 1, 100000, &s.panels))
            return fail(QStringLiteral("--paineis inválido"));
    }
    QStringList done;
    QString error;
    if (!s.run(&done, &error)) {
        for (const QString &l : std::as_const(done))
            say(l);
        return fail(error);
    }
    for (const QString &l : std::as_const(done))
        say(l);
    say(QStringLiteral("central em %1 pronta para o simulador").arg(s.folder));
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tulmo-simulador"));
    // Every simulated module and panel holds a socket: thousands of them pass the usual limit.
    tulmo::raiseDescriptorLimit();
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simula os equipamentos de uma central Tulmo: módulos GPRS que se identificam, mandam "
        "batimentos e eventos por TCP; painéis DC-09 por UDP ou TCP; uma receptora serial num "
        "pseudoterminal. Mede a confirmação de cada evento."));
    const Options o;
    p.addOptions(o.all());
    if (!p.parse(QCoreApplication::arguments())) return fail(p.errorText());
    const QString name = p.value(o.scenario);
    const bool quietScenario = name == QLatin1String("receptora-calada");
    const bool serialToo = p.isSet(o.serial) || p.isSet(o.serialLink) || quietScenario;
    const bool any = p.isSet(o.server) || serialToo || p.isSet(o.dc09Udp) || p.isSet(o.dc09Tcp);
    if (p.isSet(o.help) || (!any && !p.isSet(o.prepare))) {
        std::printf(
            "%s", qPrintable(p.helpText()
                                 .replace(QStringLiteral("Usage:"), QStringLiteral("Uso:"))
                                 .replace(QStringLiteral("Options:"), QStringLiteral("Opções:"))));
        return p.isSet(o.help) ? 0 : 2;
    }
    if (p.isSet(o.prepare)) return prepareStation(p, o);

    int duration = 0, heartbeatSeconds = 0;
    bool okRate = false;
    const double rate = p.value(o.rate).toDouble(&okRate);
    if (!okRate || rate < 0) return fail(QStringLiteral("--eventos-por-segundo inválido"));
    if (!number(p, o.seconds, 1, 86400 * 30, &duration))
        return fail(QStringLiteral("--duracao inválida"));
    if (!number(p, o.heartbeat, 1, 86400, &heartbeatSeconds))
        return fail(QStringLiteral("--batimento inválido"));

    std::unique_ptr<GprsFleet> fleet;
    int fleetModules = 0;
    int seconds = duration;
    if (p.isSet(o.server)) {
        GprsFleet::Settings s;
        if (!parseAddress(p.value(o.server), &s.primary))
            return fail(
                QStringLiteral("endereço inválido em --servidor: \"%1\"").arg(p.value(o.server)));
        if (p.isSet(o.backup) && !parseAddress(p.value(o.backup), &s.backup))
            return fail(
                QStringLiteral("endereço inválido em --reserva: \"%1\"").arg(p.value(o.backup)));
        if (!number(p, o.modules, 1, 100000, &s.modules))
            return fail(QStringLiteral("--modulos aceita de 1 a 100000"));
        s.eventsPerSecond = rate;
        s.heartbeatSeconds = heartbeatSeconds;
        s.deviceCode = p.value(o.deviceCode).toLatin1();
        if (!QList<QByteArray>{"00", "01", "02", "05", "06"}.contains(s.deviceCode))
            return fail(QStringLiteral("--equipamento aceita 00, 01, 02, 05 ou 06"));
        if (name == QLatin1String("rajada")) {
            if (!number(p, o.perModule, 1, 999, &s.burstPerModule))
                return fail(QStringLiteral("--eventos-por-modulo aceita de 1 a 999"));
            if (!p.isSet(o.rate)) s.eventsPerSecond = 0;
        } else if (name == QLatin1String("queda-de-energia")) {
            s.powerCut = true;
            if (!p.isSet(o.modules)) s.modules = 10000;
            if (!p.isSet(o.rate)) s.eventsPerSecond = 0;
            seconds = std::max(seconds, s.restoreAfterSeconds + 2);
        } else if (name == QLatin1String("disparo")) {
            s.runawayModules = 1;
            s.runawayPerSecond = 2;
        } else if (name == QLatin1String("link-lento")) {
            s.splitBytes = 3;
        }
        fleetModules = s.modules;
        fleet = std::make_unique<GprsFleet>(s);
    }
    if (name != QLatin1String("normal") && !quietScenario && !fleet &&
        QStringList{"rajada", "queda-de-energia", "disparo", "link-lento"}.contains(name))
        return fail(QStringLiteral("o cenário %1 é dos módulos GPRS: falta --servidor").arg(name));
    if (!QStringList{"normal", "rajada", "queda-de-energia", "disparo", "link-lento",
                     "receptora-calada"}
             .contains(name))
        return fail(QStringLiteral("cenário desconhecido: \"%1\" (normal, rajada, "
                                   "queda-de-energia, disparo, link-lento, receptora-calada)")
                        .arg(name));

    std::unique_ptr<SerialReceiver> serial;
    if (serialToo) {
        SerialReceiver::Settings s;
        s.link = p.value(o.serialLink);
        s.eventsPerSecond = rate;
        s.heartbeatSeconds = heartbeatSeconds;
        if (quietScenario) {
            s.quietAfterSeconds = 3;
            if (!number(p, o.silence, 1, 86400, &s.quietSeconds))
                return fail(QStringLiteral("--silencio inválido"));
            seconds = std::max(seconds, s.quietAfterSeconds + s.quietSeconds + 5);
        }
        serial = std::make_unique<SerialReceiver>(s);
        QString error;
        if (!serial->open(&error)) return fail(error);
        say(QStringLiteral("receptora serial em %1 (em [Portas] do Config.ini: COM1=%1)")
                .arg(serial->devicePath()));
        QObject::connect(serial.get(), &SerialReceiver::quietBegan,
                         [&] { say(QStringLiteral("receptora serial calada")); });
        QObject::connect(serial.get(), &SerialReceiver::quietEnded,
                         [&] { say(QStringLiteral("receptora serial voltou a falar")); });
    }

    std::vector<std::pair<QString, std::unique_ptr<Dc09Panels>>> dc09;
    for (const auto &[option, transport, label] :
         {std::tuple{&o.dc09Udp, Dc09Panels::Transport::Udp, QStringLiteral("dc09-udp")},
          std::tuple{&o.dc09Tcp, Dc09Panels::Transport::Tcp, QStringLiteral("dc09-tcp")}}) {
        if (!p.isSet(*option)) continue;
        Dc09Panels::Settings s;
        s.transport = transport;
        if (transport == Dc09Panels::Transport::Tcp) s.firstAccount = 4001;
        if (!parseAddress(p.value(*option), &s.station))
            return fail(
                QStringLiteral("endereço inválido em --%1: \"%2\"").arg(label, p.value(*option)));
        if (!number(p, o.panels, 1, 100000, &s.panels))
            return fail(QStringLiteral("--paineis inválido"));
        if (p.isSet(o.key)) {
            s.key = tulmo::Dc09Codec::keyFromHex(p.value(o.key));
            if (s.key.isEmpty())
                return fail(QStringLiteral("--chave precisa de 32, 48 ou 64 dígitos hexadecimais"));
        }
        s.eventsPerSecond = rate;
        s.linkTestSeconds = heartbeatSeconds;
        dc09.emplace_back(label, std::make_unique<Dc09Panels>(s));
    }

    // Every kind's events as one list: what was sent, by whom.
    auto unanswered = [&] {
        int n = fleet ? fleet->unanswered() : 0;
        if (serial) n += unansweredOf(serial->sent());
        for (const auto &d : dc09)
            n += unansweredOf(d.second->sent());
        return n;
    };
    if (fleet) fleet->start();
    if (serial) serial->start();
    for (auto &d : dc09)
        d.second->start();
    // The events for their time, then up to thirty seconds for the last answers (a station busy
    // recording a burst answers late, not never).
    QTimer::singleShot(seconds * 1000, &app, [&] {
        if (fleet) fleet->stopEvents();
        if (serial) serial->stopEvents();
        for (auto &d : dc09)
            d.second->stopEvents();
        auto *wait = new QTimer(&app);
        int left = 300;
        QObject::connect(wait, &QTimer::timeout, &app, [&, wait, left]() mutable {
            if (unanswered() == 0 || --left == 0) {
                wait->stop();
                app.quit();
            }
        });
        wait->start(100);
    });
    app.exec();

    struct Row {
        SentEvent e;
        QByteArray origem;
    };
    std::vector<Row> rows;
    std::vector<SentEvent> everything;
    if (fleet) {
        fleet->stop();
        say(QStringLiteral("módulos: %1 (identificados no fim: %2)")
                .arg(fleetModules)
                .arg(fleet->identified()));
        for (const SentEvent &e : fleet->sent())
            rows.push_back({e, "gprs"});
    }
    if (serial) {
        serial->stop();
        say(QStringLiteral("receptora serial: %1, batimentos confirmados: %2")
                .arg(serial->identified() ? QStringLiteral("identificada")
                                          : QStringLiteral("não identificada"))
                .arg(serial->heartbeatsAnswered()));
        for (const SentEvent &e : serial->sent())
            rows.push_back({e, "serial"});
    }
    for (auto &[label, panels] : dc09) {
        panels->stop();
        say(QStringLiteral(
                "painéis %1: %2 (respondidos: %3), testes de link confirmados: %4, NAK: %5")
                .arg(label)
                .arg(p.value(o.panels))
                .arg(panels->heard())
                .arg(panels->linkTestsAnswered())
                .arg(panels->naks()));
        for (const SentEvent &e : panels->sent())
            rows.push_back({e, label.toLatin1()});
    }
    for (const Row &r : rows)
        everything.push_back(r.e);
    const QList<double> l = answerTimesMs(everything);
    const int missing = unansweredOf(everything);
    say(QStringLiteral("eventos enviados: %1, confirmados: %2, sem resposta: %3")
            .arg(everything.size())
            .arg(l.size())
            .arg(missing));
    say(latencyLine(l));
    if (p.isSet(o.output)) {
        QFile f(p.value(o.output));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("não foi possível gravar %1: %2")
                            .arg(f.fileName(), f.errorString()));
        f.write("conta;codigo;zona;enviado_ms;confirmado_ms;vezes;origem\n");
        for (const Row &r : rows)
            f.write(r.e.conta + ';' + r.e.codigo + ';' + QByteArray::number(r.e.zona) + ';' +
                    QByteArray::number(r.e.sentMs) + ';' + QByteArray::number(r.e.answeredMs) +
                    ';' + QByteArray::number(r.e.times) + ';' + r.origem + '\n');
    }
    return missing == 0 ? 0 : 1;
}
