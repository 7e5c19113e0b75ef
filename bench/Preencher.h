#pragma once

// Fills a station's database for the benchmarks: accounts, two event codes and events spread
// over a year, nine in ten treated. What is already there is kept and completed.

#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace tulmo::bench {

// [events] [accounts] [samples] [program folder]: a folder given keeps its filled database
// between runs; otherwise the caller's temporary folder is used.
struct Argumentos {
    int events = 1000000;
    int accounts = 50000;
    int samples = 300;
    QString programDir;

    Argumentos(int argc, char **argv, const QString &temporario) {
        if (argc > 1) events = std::atoi(argv[1]);
        if (argc > 2) accounts = std::atoi(argv[2]);
        if (argc > 3) samples = std::atoi(argv[3]);
        programDir = argc > 4 ? QString::fromLocal8Bit(argv[4]) : temporario;
        QDir().mkpath(programDir);
    }
};

inline void run(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    if (!q.exec(sql)) qFatal("%s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
}

inline int contar(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        qFatal("%s\n%s", qPrintable(sql), qPrintable(q.lastError().text()));
    return q.value(0).toInt();
}

// Returns whether anything was added.
inline bool preencher(QSqlDatabase db, int events, int accounts) {
    const int have = contar(db, QStringLiteral("select count(*) from EVENTOS"));
    if (have >= events) return false;
    if (contar(db, QStringLiteral("select count(*) from CLIENTES")) == 0) {
        run(db,
            QStringLiteral(
                "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < %1) DO BEGIN "
                "INSERT INTO CLIENTES (CONTA, NOME, CELULAR, DESARMADOS, REARME, EVENTO_ATRASADO, "
                "TEMPO_ATRASO, ULTIMO_EVENTO) VALUES (LPAD(:i + 1, 6, '0'), 'CLIENTE ' || (:i + "
                "1), '11999990000', 0, 0, 0, 1440, CURRENT_TIMESTAMP); i = i + 1; END END")
                .arg(accounts));
        // The standard catalogue of a new database has both codes; these are the ones measured.
        run(db, "UPDATE OR INSERT INTO EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
                "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) VALUES ('1130', "
                "'ALARME ROUBO', 2, 1, 1, '', 0, 0) MATCHING (CODIGO_EVENTO)");
        run(db, "UPDATE OR INSERT INTO EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, "
                "REGISTRO_AUTOMATICO, PRIORIDADE, SOM, SOM_CONTINUO, ENVIO_SMS) VALUES ('1401', "
                "'DESARME', 0, 1, 1, '', 0, 0) MATCHING (CODIGO_EVENTO)");
    }
    run(db, QStringLiteral(
                "EXECUTE BLOCK AS DECLARE i INTEGER = %1; BEGIN WHILE (i < %2) DO BEGIN "
                "INSERT INTO EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, NUMERO_PARTICAO, "
                "NOME_PARTICAO, DESCRICAO, TIPO, DATA, DATA_INTERVENCAO, DETALHES, IDECALL, "
                "TRATADO, PRIORIDADE) VALUES (LPAD(MOD(:i, %3) + 1, 6, '0'), 'CLIENTE', '1130', "
                "'001', 1, 'PARTICAO 1', 'ALARME ROUBO SALA', 'ALARME', DATEADD(-:i * 30 SECOND "
                "TO CURRENT_TIMESTAMP), CURRENT_TIMESTAMP, 'Evento Padrao', 'Nao Identificado', "
                "IIF(MOD(:i, 10) = 0, 0, 1), 1); i = i + 1; END END")
                .arg(have)
                .arg(events)
                .arg(accounts));
    run(db, "SET STATISTICS INDEX IDX_EVENTOS_DATA_DESC");
    return true;
}

// Fills as above, saying how long it took when anything was added, and what the database holds.
inline void preencherInforma(QSqlDatabase db, int events, int accounts) {
    QElapsedTimer fill;
    fill.start();
    if (preencher(db, events, accounts))
        std::printf("filled in %.1f s\n", double(fill.elapsed()) / 1000.0);
    std::printf("%d accounts, %d events\n", contar(db, QStringLiteral("select count(*) from CLIENTES")),
                contar(db, QStringLiteral("select count(*) from EVENTOS")));
}

} // namespace tulmo::bench
