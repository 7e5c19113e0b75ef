// The pending-events window raised again with a thousand events waiting: what the operator
// waits for between the click and the list on the screen (the list read again by priority and
// age, the moment each is first shown kept, the window painted).
//
//   bench_pending [eventos=10000] [contas=5000] [amostras=50]
//
// One event in ten of the filled database waits for an operator. Runs without a screen.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "core/console/ConsoleCore.h"
#include "core/events/EventRepository.h"
#include "ui/console/Eventos_Pendentes.h"
#include "ui/console/Principal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tulmo;

namespace {

double ms(const QElapsedTimer &t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Shown, painted once, and the events of the showing handled.
double open(QWidget &w) {
    QElapsedTimer t;
    t.start();
    w.show();
    w.raise();
    while (!w.windowHandle() || !w.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    w.grab();
    return ms(t);
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int events = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int samples = argc > 3 ? std::atoi(argv[3]) : 50;
    QTemporaryDir tmp;
    ConsoleCore core(tmp.path(), SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    bench::preencherInforma(core.database().primary(), events, accounts);
    const int pending = bench::contar(core.database().primary(),
                                      QStringLiteral("select count(*) from EVENTOS where TRATADO = 0"));
    Form_Principal w(core.services(), nullptr);
    w.resize(1280, 800);
    open(w);
    core.stopTimer(); // nothing recorded meanwhile: the window alone is measured
    // The console brings the window forward by itself when events wait: it is put away first.
    Form_Eventos_Pendentes &p = w.pendingForm();
    open(p);
    std::vector<double> again;
    for (int i = 0; i < samples; ++i) {
        p.hide();
        QCoreApplication::processEvents();
        again.push_back(open(p));
    }
    std::printf("%d eventos pendentes (de %d; a lista mostra até %d)\n", pending, events,
                EventRepository::kListRows);
    std::printf("reaberta: p50 %.1f ms, p99 %.1f ms, máx %.1f ms, %d vezes (meta < 100 ms)\n",
                bench::percentile(again, 0.5), bench::percentile(again, 0.99),
                bench::percentile(again, 1.0), samples);
    return 0;
}
