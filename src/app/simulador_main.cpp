// tulmo-simulador: a station's devices without hardware, to try the console and the reception
// service and to measure them.

#include "sim/GprsFleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

using tulmo::sim::Address;
using tulmo::sim::GprsFleet;

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

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tulmo-simulador"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simula módulos GPRS que se identificam, mandam batimentos e eventos a uma estação Tulmo "
        "e medem a confirmação de cada evento."));
    const QCommandLineOption help(QStringList{QStringLiteral("ajuda"), QStringLiteral("h")},
                                  QStringLiteral("Mostra esta ajuda."));
    const QCommandLineOption server(QStringLiteral("servidor"),
                                    QStringLiteral("Endereço da receptora TCP (host:porta)."),
                                    QStringLiteral("host:porta"));
    const QCommandLineOption backup(QStringLiteral("reserva"),
                                    QStringLiteral("Endereço reserva, tentado a cada segunda "
                                                   "falha de conexão (host:porta)."),
                                    QStringLiteral("host:porta"));
    const QCommandLineOption modules(QStringLiteral("modulos"),
                                     QStringLiteral("Quantos módulos (padrão 10)."),
                                     QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption rate(QStringLiteral("eventos-por-segundo"),
                                  QStringLiteral("Eventos por segundo, somados todos os módulos "
                                                 "(padrão 1)."),
                                  QStringLiteral("taxa"), QStringLiteral("1"));
    const QCommandLineOption seconds(QStringLiteral("duracao"),
                                     QStringLiteral("Segundos mandando eventos (padrão 10)."),
                                     QStringLiteral("s"), QStringLiteral("10"));
    const QCommandLineOption heartbeat(QStringLiteral("batimento"),
                                       QStringLiteral("Segundos entre dois batimentos de um "
                                                      "módulo (padrão 30)."),
                                       QStringLiteral("s"), QStringLiteral("30"));
    const QCommandLineOption scenario(
        QStringLiteral("cenario"),
        QStringLiteral("O que os módulos fazem: normal (eventos na taxa dada), rajada (cada "
                       "módulo manda --eventos-por-modulo eventos de uma vez ao se "
                       "identificar), queda-de-energia (cada módulo avisa a falta de energia "
                       "e, 5 s depois, a volta; 10000 módulos se --modulos não for dado), "
                       "disparo (o primeiro módulo manda 2 eventos por segundo além da taxa) "
                       "ou link-lento (cada quadro vai em pedaços de 3 bytes)."),
        QStringLiteral("nome"), QStringLiteral("normal"));
    const QCommandLineOption perModule(QStringLiteral("eventos-por-modulo"),
                                       QStringLiteral("Eventos de cada módulo na rajada "
                                                      "(padrão 10)."),
                                       QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption output(QStringLiteral("saida"),
                                    QStringLiteral("Grava cada evento mandado (conta;código;zona;enviado;"
                                                   "confirmado, em ms) neste arquivo."),
                                    QStringLiteral("arquivo"));
    p.addOptions({help, server, backup, modules, rate, seconds, heartbeat, scenario, perModule,
                  output});
    if (!p.parse(QCoreApplication::arguments())) return fail(p.errorText());
    if (p.isSet(help) || !p.isSet(server)) {
        std::printf("%s", qPrintable(p.helpText().replace(QStringLiteral("Usage:"),
                                                           QStringLiteral("Uso:"))
                                         .replace(QStringLiteral("Options:"),
                                                  QStringLiteral("Opções:"))));
        return p.isSet(help) ? 0 : 2;
    }
    GprsFleet::Settings s;
    if (!parseAddress(p.value(server), &s.primary))
        return fail(QStringLiteral("endereço inválido em --servidor: \"%1\"").arg(p.value(server)));
    if (p.isSet(backup) && !parseAddress(p.value(backup), &s.backup))
        return fail(QStringLiteral("endereço inválido em --reserva: \"%1\"").arg(p.value(backup)));
    bool ok1 = false, ok2 = false, ok3 = false, ok4 = false;
    s.modules = p.value(modules).toInt(&ok1);
    s.eventsPerSecond = p.value(rate).toDouble(&ok2);
    const int duration = p.value(seconds).toInt(&ok3);
    s.heartbeatSeconds = p.value(heartbeat).toInt(&ok4);
    if (!ok1 || s.modules < 1 || s.modules > 100000)
        return fail(QStringLiteral("--modulos aceita de 1 a 100000"));
    if (!ok2 || s.eventsPerSecond < 0) return fail(QStringLiteral("--eventos-por-segundo inválido"));
    if (!ok3 || duration < 1) return fail(QStringLiteral("--duracao inválida"));
    if (!ok4 || s.heartbeatSeconds < 1) return fail(QStringLiteral("--batimento inválido"));
    const QString name = p.value(scenario);
    int seconds_ = duration;
    if (name == QLatin1String("rajada")) {
        bool ok = false;
        s.burstPerModule = p.value(perModule).toInt(&ok);
        if (!ok || s.burstPerModule < 1 || s.burstPerModule > 999)
            return fail(QStringLiteral("--eventos-por-modulo aceita de 1 a 999"));
        if (!p.isSet(rate)) s.eventsPerSecond = 0;
    } else if (name == QLatin1String("queda-de-energia")) {
        s.powerCut = true;
        if (!p.isSet(modules)) s.modules = 10000;
        if (!p.isSet(rate)) s.eventsPerSecond = 0;
        seconds_ = std::max(duration, s.restoreAfterSeconds + 2);
    } else if (name == QLatin1String("disparo")) {
        s.runawayModules = 1;
        s.runawayPerSecond = 2;
    } else if (name == QLatin1String("link-lento")) {
        s.splitBytes = 3;
    } else if (name != QLatin1String("normal")) {
        return fail(QStringLiteral("cenário desconhecido: \"%1\" (normal, rajada, "
                                   "queda-de-energia, disparo, link-lento)")
                        .arg(name));
    }

    GprsFleet fleet(s);
    fleet.start();
    // The events for their time, then up to thirty seconds for the last answers (a station busy
    // recording a burst answers late, not never).
    QTimer::singleShot(seconds_ * 1000, &fleet, [&] {
        fleet.stopEvents();
        auto *wait = new QTimer(&fleet);
        int left = 300;
        QObject::connect(wait, &QTimer::timeout, &fleet, [&, wait, left]() mutable {
            if (fleet.unanswered() == 0 || --left == 0) {
                wait->stop();
                app.quit();
            }
        });
        wait->start(100);
    });
    app.exec();
    fleet.stop();

    const QList<double> l = fleet.latenciesMs();
    const qsizetype sent = qsizetype(fleet.sent().size());
    std::printf("módulos: %d (identificados no fim: %d)\n", s.modules, fleet.identified());
    std::printf("eventos enviados: %lld, confirmados: %lld, sem resposta: %d\n", qlonglong(sent),
                qlonglong(l.size()), fleet.unanswered());
    std::printf("confirmação: p50 %.1f ms, p99 %.1f ms, máx %.1f ms\n", percentile(l, 0.5),
                percentile(l, 0.99), l.isEmpty() ? 0.0 : l.last());
    if (p.isSet(output)) {
        QFile f(p.value(output));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("não foi possível gravar %1: %2").arg(f.fileName(), f.errorString()));
        f.write("conta;codigo;zona;enviado_ms;confirmado_ms;vezes\n");
        for (const GprsFleet::Sent &e : fleet.sent())
            f.write(e.conta + ';' + e.codigo + ';' + QByteArray::number(e.zona) + ';' +
                    QByteArray::number(e.sentMs) +
                    ';' + QByteArray::number(e.answeredMs) + ';' + QByteArray::number(e.times) + '\n');
    }
    return fleet.unanswered() == 0 ? 0 : 1;
}
