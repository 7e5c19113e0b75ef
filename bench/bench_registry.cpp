// The account browser on a large station: opening it, a search by name, and deleting an
// account with ten thousand events, each with its worst and median time.
//
//   bench_registry [events=1000000] [accounts=50000] [samples=20] [program folder]
//
// With a folder given, a database already filled there is reused. Runs without a screen.

#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/common/Prompt.h"
#include "BenchCore.h"
#include "core/registry/AccountBrowser.h"
#include "ui/registry/Selecao_Clientes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

using namespace tulmo;

namespace {

// Answers Yes to every question, so a deletion runs through.
struct YesPrompt : Prompt {
    void message(const QString &text, const QString &, Icon) override {
        std::printf("message: %s\n", qPrintable(text));
    }
    bool question(const QString &, const QString &, Icon, bool) override { return true; }
};

void report(const char *what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-44s median %8.1f ms   worst %8.1f ms   (%zu runs)\n", what, v[v.size() / 2],
                v.back(), v.size());
}

std::vector<double> measure(int samples, const std::function<void()> &before,
                            const std::function<void()> &work) {
    std::vector<double> v;
    for (int i = 0; i < samples; ++i) {
        if (before) before();
        QElapsedTimer t;
        t.start();
        work();
        v.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return v;
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    bench::Argumentos a(argc, argv, tmp.path());
    const int samples = argc > 3 ? a.samples : 20;

    SystemClock clock;
    YesPrompt prompt;
    ConsoleCore core(a.programDir, clock, &prompt, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    bench::preencherInforma(db, a.events, a.accounts);

    QWidget main;
    F_Selecao_Clientes browser(core.common(), &main);
    report("opening the browser (list, count, events)",
           measure(samples, nullptr, [&] { browser.reopen(); }));
    AccountBrowser &b = browser.browser();
    report("search by name, many matches (\"CLIENTE 4\")",
           measure(samples, nullptr, [&] { b.searchByName("CLIENTE 4"); }));
    report("search by name, one match (\"CLIENTE 49999\")",
           measure(samples, nullptr, [&] { b.searchByName("CLIENTE 49999"); }));
    report("search by name, none (\"NINGUEM\")",
           measure(samples, nullptr, [&] { b.searchByName("NINGUEM"); }));
    report("search by number (\"12\")", measure(samples, nullptr, [&] { b.searchByNumber("12"); }));

    // An account of ten thousand events, made anew before each deletion.
    const QString conta = QStringLiteral("999999");
    AccountBrowserRepository::remove(db, conta); // left by an interrupted run
    auto makeAccount = [&] {
        bench::run(db, QStringLiteral("INSERT INTO CLIENTES (CONTA, NOME, DESARMADOS, REARME, "
                                      "EVENTO_ATRASADO, TEMPO_ATRASO, ULTIMO_EVENTO) VALUES "
                                      "('%1', 'APAGAR', 0, 0, 0, 1440, CURRENT_TIMESTAMP)")
                           .arg(conta));
        bench::run(db, QStringLiteral(
                           "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < 10000) DO "
                           "BEGIN INSERT INTO EVENTOS (CONTA, CODIGO_ALARME, TIPO, DATA, TRATADO) "
                           "VALUES ('%1', '1130', 'ALARME', DATEADD(-:i SECOND TO "
                           "CURRENT_TIMESTAMP), 1); i = i + 1; END END")
                           .arg(conta));
        // Old versions of the last round are collected here, not inside the next measure.
        bench::contar(db, "select count(*) from EVENTOS where CONTA = '999999'");
    };
    // What reception feels is the longest stretch the event loop is held: a zero timer's
    // longest gap while the deletion runs, from the click to the list read again.
    std::vector<double> whole, held;
    for (int i = 0; i < std::min(samples, 5); ++i) {
        makeAccount();
        QElapsedTimer t, gap;
        double longest = 0;
        QTimer beat;
        beat.setInterval(0);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
            gap.restart();
        });
        bool done = false;
        auto c =
            QObject::connect(&b, &AccountBrowser::deletionFinished, [&](const QString &, bool ok) {
                if (!ok) qFatal("deletion failed");
                done = true;
            });
        beat.start();
        t.start();
        gap.start();
        if (b.deleteAccount(conta, &prompt) != AccountBrowser::Deletion::Started)
            qFatal("deletion not started");
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        longest = std::max(longest, double(gap.nsecsElapsed()) / 1e6);
        whole.push_back(double(t.nsecsElapsed()) / 1e6);
        held.push_back(longest);
        QObject::disconnect(c);
    }
    report("deleting an account of 10,000 events, to the end", whole);
    report("  longest the event loop was held meanwhile", held);
    makeAccount();
    report("  the look for events", measure(std::min(samples, 5), nullptr, [&] {
               if (!AccountBrowserRepository::hasEvents(db, conta).value_or(false)) qFatal("none");
           }));
    report("  the reopening of the list",
           measure(std::min(samples, 5), nullptr, [&] { b.open(); }));
    bool made = true;
    report("  the transaction alone", measure(
                                          std::min(samples, 5),
                                          [&] {
                                              if (!std::exchange(made, false)) makeAccount();
                                          },
                                          [&] {
                                              if (!AccountBrowserRepository::remove(db, conta))
                                                  qFatal("deletion failed");
                                          }));
    core.shutdown();
    return 0;
}
