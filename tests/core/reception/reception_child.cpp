// A console that receives, as in production: started on the program folder given, with a TCP
// receiver on the port given (slot 1, answering at once) and its device 123456 registered, it
// runs its event loop and its one-second driver until it is killed. The kill test of reception
// streams frames into it and kills it while its queue file is being flushed.
#include "core/common/Clock.h"
#include "core/console/ConsoleCore.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

using namespace tulmo;

namespace {

bool run(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    if (q.exec(sql)) return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    ConsoleCore core(QString::fromLocal8Bit(argv[1]), SystemClock::instance(), nullptr, nullptr);
    QString error;
    if (!core.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QSqlDatabase db = core.database().primary();
    const int port = QString::fromLocal8Bit(argv[2]).toInt();
    if (!run(db, QStringLiteral("update or insert into RECEIVER (RECEIVER, NOME, MODO_COMUNICACAO, "
                                "ATIVO, PORTA_COM, BAUDS_COM, PORTA_TCP, PORTA_UDP, TEMPO_RESPOSTA, "
                                "TEMPO_KEEPALIVE) values (1, 'TCP', 1, 1, 0, 3, %1, 0, 0, 5) "
                                "matching (RECEIVER)")
                     .arg(port)) ||
        !run(db, QStringLiteral("update or insert into GPRS (IMEI, CONTA, STATUS, DATA, LISTA_NEGRA, "
                                "EQUIPAMENTO, SENHA_ACESSO) values ('123456', '0042', 'A', "
                                "CURRENT_TIMESTAMP, 0, '01', '1234') matching (IMEI)")))
        return 3;
    core.dm().Realizar_Atualizacoes();
    core.startTimer();
    std::printf("listening %lld\n", static_cast<long long>(core.eventQueue().size()));
    std::fflush(stdout);
    return app.exec();
}
