// Opening the account form on a large station: from the double-click on an account list to
// the form on the screen, for an account with a stored schedule (its schedule page in front,
// as the main window's lists open it), on the basic page (as the account browser's "Alterar"
// opens it), for an account that has no schedule yet (the page stores "Comércio" first), and
// for "Novo Cliente" (the new number among every account).
//
//   bench_account_form [events=1000000] [accounts=50000] [samples=300] [database folder]
//
// With a folder given, a database already filled there is reused. Runs without a screen.

#include "BenchStats.h"
#include "Preencher.h"
#include "core/common/Clock.h"
#include "core/common/Process.h"
#include "BenchCore.h"
#include "ui/registry/Cadastro_Clientes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tulmo;

namespace {

using bench::percentile;

void report(const char *what, const std::vector<double> &ms, double target) {
    std::printf("%-52s median %7.2f ms   p99 %7.2f ms   max %7.2f ms   (n=%zu)   target < %g ms\n",
                what, percentile(ms, 0.5), percentile(ms, 0.99),
                *std::max_element(ms.begin(), ms.end()), ms.size(), target);
}

double ms(const QElapsedTimer &t) {
    return double(t.nsecsElapsed()) / 1e6;
}

QString conta(int n) {
    return QString::number(n).rightJustified(6, QLatin1Char('0'));
}

// The schedules of the first accounts and eight zones, four users and two partitions of every
// account, as a station that has used the form for years holds them.
void preencherCadastro(QSqlDatabase db, int accounts, int withSchedule) {
    if (bench::contar(db, QStringLiteral("select count(*) from ZONAS")) > 0) return;
    QElapsedTimer t;
    t.start();
    bench::run(db, QStringLiteral(
                       "EXECUTE BLOCK AS DECLARE i INTEGER = 1; DECLARE k INTEGER; BEGIN "
                       "WHILE (i <= %1) DO BEGIN k = 1; WHILE (k <= 8) DO BEGIN "
                       "INSERT INTO ZONAS (CONTA, ZONA, DESCRICAO) VALUES (LPAD(:i, 6, '0'), :k, "
                       "'ZONA ' || :k); IF (k <= 4) THEN INSERT INTO USUARIOS (CONTA, USUARIO, "
                       "DESCRICAO) VALUES (LPAD(:i, 6, '0'), :k, 'USUARIO ' || :k); IF (k <= 2) "
                       "THEN INSERT INTO PARTICOES (CONTA, PARTICAO, NOME_PARTICAO) VALUES "
                       "(LPAD(:i, 6, '0'), :k, 'PARTICAO ' || :k); k = k + 1; END i = i + 1; END "
                       "END")
                       .arg(accounts));
    bench::run(db, QStringLiteral(
                       "EXECUTE BLOCK AS DECLARE i INTEGER = 1; DECLARE h INTEGER; DECLARE d "
                       "INTEGER; BEGIN WHILE (i <= %1) DO BEGIN h = 0; WHILE (h < 24) DO BEGIN "
                       "d = 0; WHILE (d < 7) DO BEGIN INSERT INTO QUADRO_HORARIOS (CONTA, DIA, "
                       "HORA, MARCADO) VALUES (LPAD(:i, 6, '0'), DECODE(:d, 0, 'DOM', 1, 'SEG', "
                       "2, 'TER', 3, 'QUA', 4, 'QUI', 5, 'SEX', 'SAB'), DATEADD(:h HOUR TO TIME "
                       "'00:00:00'), IIF(:h < 8 OR :h > 17, 1, 0)); d = d + 1; END h = h + 1; "
                       "END i = i + 1; END END")
                       .arg(withSchedule));
    bench::run(db, QStringLiteral("SET STATISTICS INDEX \"_IDX_CONTA_QUADRO\""));
    std::printf("filled the sub-records of %d accounts and %d schedules in %.1f s\n", accounts,
                withSchedule, double(t.elapsed()) / 1000.0);
}

// Created, opened and on the screen, painted once.
double openOnce(ConsoleCore &core, const std::function<void(Form_Cadastro_Clientes &)> &open) {
    QElapsedTimer t;
    t.start();
    auto *f = new Form_Cadastro_Clientes(core.common(), nullptr);
    f->setAttribute(Qt::WA_DeleteOnClose);
    open(*f);
    while (!f->windowHandle() || !f->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    const double elapsed = ms(t);
    f->reject();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return elapsed;
}

} // namespace

int main(int argc, char **argv) {
    tulmo::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    const bench::Argumentos args(argc, argv, tmp.path());
    const int accounts = args.accounts, samples = args.samples;
    // Half the accounts have a schedule stored; the others get one when first opened.
    const int withSchedule = accounts / 2;
    SystemClock &clock = SystemClock::instance();

    ConsoleCore core(args.programDir, clock, nullptr, nullptr);
    QString error;
    if (!core.start(&error)) qFatal("%s", qPrintable(error));
    QSqlDatabase db = core.database().primary();
    QElapsedTimer fill;
    fill.start();
    if (bench::preencher(db, args.events, accounts))
        std::printf("filled %d events and %d accounts in %.1f s\n", args.events, accounts,
                    double(fill.elapsed()) / 1000.0);
    preencherCadastro(db, accounts, withSchedule);
    core.stopTimer();

    // The first form pays for the fonts and styles once; it is not what the operator waits for
    // at every double-click.
    openOnce(core, [](Form_Cadastro_Clientes &f) { f.openAccount(conta(1)); });

    std::vector<double> horarios, basico, semQuadro, novo;
    const int withoutSchedule = accounts - withSchedule;
    for (int i = 0; i < samples; ++i) {
        const int stored = 1 + (i * 7919) % withSchedule;
        horarios.push_back(openOnce(core, [&](Form_Cadastro_Clientes &f) {
            f.openAccount(conta(stored), Form_Cadastro_Clientes::Page::Horarios);
        }));
        basico.push_back(openOnce(core, [&](Form_Cadastro_Clientes &f) {
            f.openAccount(conta(stored), Form_Cadastro_Clientes::Page::Basico);
        }));
        if (i < withoutSchedule) {
            const int fresh = withSchedule + 1 + i;
            semQuadro.push_back(openOnce(core, [&](Form_Cadastro_Clientes &f) {
                f.openAccount(conta(fresh), Form_Cadastro_Clientes::Page::Horarios);
            }));
        }
        novo.push_back(openOnce(core, [](Form_Cadastro_Clientes &f) { f.openNew(); }));
    }

    std::printf("\n%d events, %d accounts (%d with a schedule), %d samples\n", args.events,
                accounts, withSchedule, samples);
    report("open on \"Quadro de Horários\" (schedule stored)", horarios, 300);
    report("open on \"Básico\"", basico, 300);
    report("open on \"Quadro de Horários\", \"Comércio\" stored", semQuadro, 300);
    report("\"Novo Cliente\" (new number)", novo, 300);
    core.shutdown();
    return 0;
}
