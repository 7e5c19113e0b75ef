#include "Schema.h"

#include "core/operators/OperatorRepository.h"

#include "core/operators/Permissions.h"
#include "core/store/Database.h"

#include <ibase.h>

#include <QFile>

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <string>

namespace tulmo::schema {

namespace {

// One statement on its own, committed at once; an error is discarded (the caller's trap).
bool run(QSqlDatabase db, const QString &sql) {
    QSqlQuery q(db);
    return q.exec(sql);
}

bool run(QSqlDatabase db, const QString &sql, const QString &param, const QVariant &value) {
    QSqlQuery q(db);
    if (!q.prepare(sql)) return false;
    q.bindValue(param, value);
    return q.exec();
}

QString lines(std::initializer_list<const char *> parts) {
    QStringList l;
    for (const char *p : parts)
        l << QString::fromUtf8(p);
    return l.join(QLatin1Char('\n'));
}

} // namespace

bool Existe_Campo(QSqlDatabase db, const QString &table, const QString &field) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString sql =
        lines({"Select  r.RDB$FIELD_NAME AS Nome", "From  RDB$RELATION_FIELDS r",
               "Where  r.RDB$RELATION_NAME = :Tabela", "Order By  r.RDB$FIELD_POSITION"});
    if (!q.prepare(sql)) return false;
    q.bindValue(QStringLiteral(":Tabela"), table);
    if (!q.exec()) return false;
    QStringList names;
    while (q.next())
        names << q.value(0).toString().trimmed();
    return names.contains(field.toUpper(), Qt::CaseInsensitive);
}

bool createDatabaseFile(const DatabaseLocation &where, QString *error) {
    auto quoted = [](QString text) { return text.replace(QLatin1Char('\''), QLatin1String("''")); };
    const QByteArray sql =
        QStringLiteral("CREATE DATABASE '%1' USER '%2' PASSWORD '%3' "
                       "PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252")
            .arg(quoted(where.connectionString()), quoted(where.user), quoted(where.password))
            .toLocal8Bit();
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    isc_dsql_execute_immediate(status, &db, &tr, 0, sql.constData(), SQL_DIALECT_V6, nullptr);
    if (status[0] == 1 && status[1]) {
        char buf[512];
        QString reason;
        const ISC_STATUS *pvector = status;
        while (fb_interpret(buf, sizeof buf, &pvector)) {
            if (!reason.isEmpty()) reason += QLatin1String(" - ");
            reason += QString::fromLocal8Bit(buf);
        }
        if (error) *error = reason;
        return false;
    }
    isc_detach_database(status, &db);
    // Forced writes are the engine's default for a new file; set them explicitly anyway:
    // an attachment carrying isc_dpb_force_write changes the file's header for good.
    isc_db_handle db2 = 0;
    const QByteArray file = where.connectionString().toLocal8Bit();
    const QByteArray user = where.user.toUtf8(), password = where.password.toUtf8();
    std::string dpbUser;
    dpbUser.push_back(char(isc_dpb_version1));
    dpbUser.push_back(char(isc_dpb_force_write));
    dpbUser.push_back(char(1));
    dpbUser.push_back(char(1));
    dpbUser.push_back(char(isc_dpb_user_name));
    dpbUser.push_back(char(user.size()));
    dpbUser += user.toStdString();
    dpbUser.push_back(char(isc_dpb_password));
    dpbUser.push_back(char(password.size()));
    dpbUser += password.toStdString();
    if (isc_attach_database(status, 0, file.constData(), &db2, short(dpbUser.size()),
                            dpbUser.data()) == 0)
        isc_detach_database(status, &db2);
    return true;
}

void createBaseTables(QSqlDatabase db) {
    const QStringList ddl = {
        lines({"CREATE TABLE CLIENTES (",
               "CONTA VARCHAR(6) NOT NULL, NOME VARCHAR(40), DATA_CADASTRO TIMESTAMP,",
               "TELEFONE1 VARCHAR(14), TELEFONE2 VARCHAR(14), CELULAR VARCHAR(14),",
               "ENDERECO1 VARCHAR(40), ENDERECO2 VARCHAR(40), BAIRRO1 VARCHAR(30),",
               "BAIRRO2 VARCHAR(30), CEP1 VARCHAR(9), CEP2 VARCHAR(9), CIDADE VARCHAR(30),",
               "EMPRESA VARCHAR(40), ANIMAIS VARCHAR(10), SENHA VARCHAR(20),",
               "EQUIPAMENTO VARCHAR(20), RG VARCHAR(10), CPF VARCHAR(14), CNPJ VARCHAR(18),",
               "IE VARCHAR(12), OBS VARCHAR(200), FOTO1 VARCHAR(200), FOTO2 VARCHAR(200),",
               "EMAIL VARCHAR(40), FONE_IDECALL VARCHAR(14), EVENTO_IDECALL VARCHAR(4),",
               "ID INTEGER,", "CONSTRAINT PK_CLIENTES PRIMARY KEY (CONTA))"}),
        lines({"CREATE TABLE EVENTOS (",
               "SEQUENCIA INTEGER NOT NULL, CONTA VARCHAR(6), CLIENTE VARCHAR(40),",
               "CODIGO_ALARME VARCHAR(4), ARGUMENTO VARCHAR(3), NUMERO_PARTICAO SMALLINT,",
               "NOME_PARTICAO VARCHAR(16), DESCRICAO VARCHAR(60), TIPO VARCHAR(16),",
               "DATA TIMESTAMP, DATA_INTERVENCAO TIMESTAMP, DETALHES VARCHAR(40),",
               "IDECALL VARCHAR(16), PACOTE VARCHAR(2), EQUIPAMENTO VARCHAR(2),",
               "ENVIADO SMALLINT, TRATADO SMALLINT, PRIORIDADE SMALLINT, INTERVENCAO VARCHAR(20),",
               "CONSTRAINT PK_EVENTOS PRIMARY KEY (SEQUENCIA))"}),
        "CREATE TABLE ZONAS (CONTA VARCHAR(6), ZONA SMALLINT, DESCRICAO VARCHAR(20))",
        "CREATE TABLE USUARIOS (CONTA VARCHAR(6), USUARIO SMALLINT, DESCRICAO VARCHAR(20))",
        "CREATE TABLE PARTICOES (CONTA VARCHAR(6), PARTICAO SMALLINT, NOME_PARTICAO VARCHAR(16))",
        lines({"CREATE TABLE RECEIVER (",
               "RECEIVER INTEGER NOT NULL, NOME VARCHAR(40), MODO_COMUNICACAO INTEGER,",
               "ATIVO SMALLINT, PORTA_COM INTEGER, BAUDS_COM INTEGER, PORTA_TCP INTEGER,",
               "PORTA_UDP INTEGER, TEMPO_RESPOSTA INTEGER, TEMPO_KEEPALIVE INTEGER,",
               "CONSTRAINT PK_RECEIVER PRIMARY KEY (RECEIVER))"}),
        lines({"CREATE TABLE GPRS (",
               "IMEI VARCHAR(6) NOT NULL, CONTA VARCHAR(6), STATUS VARCHAR(1), DATA TIMESTAMP,",
               "LISTA_NEGRA SMALLINT, EQUIPAMENTO VARCHAR(2), SENHA_ACESSO VARCHAR(8),",
               "CONSTRAINT PK_GPRS PRIMARY KEY (IMEI))"}),
        lines({"CREATE TABLE EVENTOS_PADRAO (",
               "CODIGO_EVENTO VARCHAR(4) NOT NULL, DESCRICAO VARCHAR(40), TIPO SMALLINT,",
               "REGISTRO_AUTOMATICO SMALLINT, PRIORIDADE SMALLINT,",
               "CONSTRAINT PK_EVENTOS_PADRAO PRIMARY KEY (CODIGO_EVENTO))"}),
        "CREATE GENERATOR GEN_EVENTOS_SEQUENCIA",
        lines({"CREATE TRIGGER EVENTOS_BI0 FOR EVENTOS", "BEFORE INSERT POSITION 0", "AS", "begin",
               "if (New.sequencia is null) then New.sequencia = Gen_Id(gen_eventos_sequencia, 1);",
               "end"}),
        "CREATE GENERATOR GEN_CLIENTES_ID",
        lines({"CREATE TRIGGER CLIENTES_BI0 FOR CLIENTES", "BEFORE INSERT POSITION 0", "AS",
               "begin", "if (New.id is null) then New.id = Gen_Id(gen_clientes_id, 1);", "end"}),
        "CREATE INDEX IDX_ZONAS_CONTA ON ZONAS (CONTA, ZONA)",
        "CREATE INDEX IDX_USUARIOS_CONTA ON USUARIOS (CONTA, USUARIO)",
        "CREATE INDEX IDX_PARTICOES_CONTA ON PARTICOES (CONTA, PARTICAO)",
    };
    for (const QString &s : ddl)
        run(db, s);
}

void upgradeDataModuleStep(QSqlDatabase primary, QSqlDatabase secondary) {
    QSqlDatabase db = primary;
    if (!Existe_Campo(db, "QUADRO_HORARIOS", "DIA")) {
        run(db, "CREATE GENERATOR GEN_SEQUENCIA_QUADRO_HORARIOS");
        run(db, lines({"CREATE TABLE QUADRO_HORARIOS (",
                       "SEQUENCIA INTEGER NOT NULL, CONTA VARCHAR(6), DIA CHAR(3), HORA TIME, "
                       "MARCADO SMALLINT)"}));
        run(db, lines({"ALTER TABLE QUADRO_HORARIOS ADD", "CONSTRAINT PK_QUADRO_HORARIOS PRIMARY",
                       "KEY (SEQUENCIA) USING INDEX PK_SEQUENCIA_QUADRO"}));
        run(db, lines({"CREATE TRIGGER QUADRO_HORARIOS_BI0 FOR QUADRO_HORARIOS",
                       "BEFORE INSERT POSITION 0", "AS", "begin",
                       "New.sequencia = Gen_Id(gen_sequencia_quadro_horarios, 1);", "end"}));
        run(db, "CREATE INDEX \"_IDX_CONTA_QUADRO\" ON QUADRO_HORARIOS (CONTA)");
    }
    if (!Existe_Campo(db, "CLIENTES", "DESARMADOS"))
        run(db, lines({"ALTER TABLE CLIENTES", "ADD DESARMADOS SMALLINT, ADD REARME SMALLINT"}));
    if (!Existe_Campo(db, "GPRS", "CANAL1_MAXIMO")) {
        QStringList l{QStringLiteral("ALTER TABLE GPRS")};
        for (int i = 1; i <= 12; ++i)
            l << QStringLiteral("ADD CANAL%1_MAXIMO SMALLINT DEFAULT 255, ").arg(i);
        for (int i = 1; i <= 12; ++i)
            l << QStringLiteral("ADD CANAL%1_MINIMO SMALLINT DEFAULT 0, ").arg(i);
        for (int i = 1; i <= 12; ++i)
            l << QStringLiteral("ADD CANAL%1_UNIDADE CHAR(10), ").arg(i);
        for (int i = 1; i <= 8; ++i)
            l << QStringLiteral("ADD TIPO_PGM%1 SMALLINT DEFAULT 0, ").arg(i);
        for (int i = 1; i <= 7; ++i)
            l << QStringLiteral("ADD TEMPO_PGM%1 SMALLINT DEFAULT 1 , ").arg(i);
        l << QStringLiteral("ADD TEMPO_PGM8 SMALLINT DEFAULT 1 ");
        run(db, l.join(QLatin1Char('\n')));
    }
    if (!Existe_Campo(db, "EVENTOS_PADRAO", "SOM"))
        run(db, lines({"ALTER TABLE EVENTOS_PADRAO", "ADD SOM VARCHAR(200)"}));
    if (!Existe_Campo(db, "EVENTOS_PADRAO", "SOM_CONTINUO"))
        run(db, lines({"ALTER TABLE EVENTOS_PADRAO", "ADD SOM_CONTINUO SMALLINT"}));
    if (!secondary.isOpen()) secondary.open();
}

void upgradeMainWindowStep(QSqlDatabase primary, const QDateTime &now) {
    QSqlDatabase db = primary;
    run(db, "ALTER TABLE CLIENTES ALTER OBS TYPE VARCHAR(400)");

    // Each block stops at its first failure.
    if (!Existe_Campo(db, "OPERADORES", "NOME")) {
        [&] {
            if (!run(db, "CREATE TABLE OPERADORES (NOME VARCHAR(20) NOT NULL, PERMISSOES INTEGER, "
                         "SENHA VARCHAR(8))"))
                return;
            if (!run(db, "alter table OPERADORES add constraint PK_OPERADORES primary key (NOME)"))
                return;
            QSqlQuery q(db);
            if (!q.prepare("Insert Into OPERADORES ( NOME, PERMISSOES, SENHA) Values (:Nome, "
                           ":Permissoes, :Senha)"))
                return;
            q.bindValue(":Nome", QLatin1String(OperatorRepository::kAdministrator));
            q.bindValue(":Permissoes", int(Permissions::kAll));
            q.bindValue(":Senha", QLatin1String(OperatorRepository::kDefaultPassword));
            q.exec();
        }();
    }
    if (!Existe_Campo(db, "EVENTOS_PADRAO", "ENVIO_SMS")) {
        if (run(db, "ALTER TABLE EVENTOS_PADRAO ADD ENVIO_SMS SMALLINT"))
            run(db, "Update EVENTOS_PADRAO Set ENVIO_SMS =:EnvioSMS", ":EnvioSMS", 1);
    }
    if (!Existe_Campo(db, "RECEIVER", "ENVIA_SMS")) {
        if (run(db, "ALTER TABLE RECEIVER ADD ENVIA_SMS SMALLINT"))
            run(db, "Update RECEIVER Set ENVIA_SMS =:EnviaSMS", ":EnviaSMS", 1);
    }
    if (!Existe_Campo(db, "CLIENTES", "ULTIMO_EVENTO")) {
        [&] {
            if (!run(db, "ALTER TABLE CLIENTES ADD ULTIMO_EVENTO TIMESTAMP")) return;
            if (!run(db, "Update CLIENTES Set ULTIMO_EVENTO =:UltimoEvento", ":UltimoEvento", now))
                return;
            if (!run(db, "ALTER TABLE CLIENTES ADD EVENTO_ATRASADO SMALLINT")) return;
            if (!run(db, "Update CLIENTES Set EVENTO_ATRASADO = 0")) return;
            if (!run(db, "ALTER TABLE CLIENTES ADD TEMPO_ATRASO SMALLINT")) return;
            run(db, "Update CLIENTES Set TEMPO_ATRASO = 1440");
        }();
    }
}

void ensureIndexes(QSqlDatabase db) {
    struct Idx {
        const char *name, *table, *column, *ddl;
    };
    static const Idx idx[] = {
        {"IDX_EVENTOS_DATA_DESC", "EVENTOS", "DATA",
         "CREATE DESCENDING INDEX IDX_EVENTOS_DATA_DESC ON EVENTOS (DATA)"},
        // Reports walk events in time order a page at a time, both ways, one instant's
        // events by their number.
        {"IDX_EVENTOS_DATA_SEQ_DESC", "EVENTOS", "DATA",
         "CREATE DESCENDING INDEX IDX_EVENTOS_DATA_SEQ_DESC ON EVENTOS (DATA, SEQUENCIA)"},
        {"IDX_EVENTOS_DATA_SEQ", "EVENTOS", "DATA",
         "CREATE INDEX IDX_EVENTOS_DATA_SEQ ON EVENTOS (DATA, SEQUENCIA)"},
        {"IDX_EVENTOS_TRATADO_DATA", "EVENTOS", "TRATADO",
         "CREATE DESCENDING INDEX IDX_EVENTOS_TRATADO_DATA ON EVENTOS (TRATADO, DATA)"},
        {"IDX_EVENTOS_CONTA", "EVENTOS", "CONTA",
         "CREATE INDEX IDX_EVENTOS_CONTA ON EVENTOS (CONTA)"},
        {"IDX_CLIENTES_DESARMADOS", "CLIENTES", "DESARMADOS",
         "CREATE INDEX IDX_CLIENTES_DESARMADOS ON CLIENTES (DESARMADOS)"},
        {"IDX_CLIENTES_REARME", "CLIENTES", "REARME",
         "CREATE INDEX IDX_CLIENTES_REARME ON CLIENTES (REARME)"},
        {"IDX_CLIENTES_ATRASADO", "CLIENTES", "EVENTO_ATRASADO",
         "CREATE INDEX IDX_CLIENTES_ATRASADO ON CLIENTES (EVENTO_ATRASADO)"},
        {"IDX_QUADRO_CONTA_DIA", "QUADRO_HORARIOS", "DIA",
         "CREATE INDEX IDX_QUADRO_CONTA_DIA ON QUADRO_HORARIOS (CONTA, DIA, HORA)"},
        {"IDX_CLIENTES_SILENCE_DEADLINE", "CLIENTES", "ULTIMO_EVENTO", nullptr},
    };
    QSqlQuery have(db);
    have.setForwardOnly(true);
    QStringList existing;
    if (have.exec("select trim(RDB$INDEX_NAME) from RDB$INDICES")) {
        while (have.next())
            existing << have.value(0).toString().trimmed();
    }
    have.finish();
    for (const Idx &i : idx) {
        if (existing.contains(QLatin1String(i.name))) continue;
        if (!Existe_Campo(db, i.table, i.column)) continue;
        // The silence deadline is an expression, written once for the index and its query.
        run(db, i.ddl ? QString::fromLatin1(i.ddl)
                      : QStringLiteral("CREATE INDEX %1 ON %2 COMPUTED BY %3")
                            .arg(QLatin1String(i.name), QLatin1String(i.table),
                                 QLatin1String(kSilenceDeadline)));
    }
}

void ensureQueueMark(QSqlDatabase db) {
    if (Existe_Campo(db, "QUEUE_MARK", "QUEUE_ID")) return;
    run(db, "CREATE TABLE QUEUE_MARK (QUEUE_ID VARCHAR(40) NOT NULL, LAST_LINE BIGINT NOT NULL, "
            "CONSTRAINT PK_QUEUE_MARK PRIMARY KEY (QUEUE_ID))");
}

void ensureDc09Keys(QSqlDatabase db) {
    if (Existe_Campo(db, "DC09_KEYS", "ACCOUNT")) return;
    run(db, "CREATE TABLE DC09_KEYS (ACCOUNT VARCHAR(16) NOT NULL, AES_KEY VARCHAR(64) NOT NULL, "
            "CONSTRAINT PK_DC09_KEYS PRIMARY KEY (ACCOUNT))");
}

namespace {
bool objectExists(QSqlDatabase db, const char *sql, const QString &name) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QString::fromLatin1(sql))) return false;
    q.bindValue(QStringLiteral(":n"), name);
    return q.exec() && q.next();
}
bool triggerExists(QSqlDatabase db, const QString &name) {
    return objectExists(db, "select 1 from RDB$TRIGGERS where RDB$TRIGGER_NAME = :n", name);
}
bool generatorExists(QSqlDatabase db, const QString &name) {
    return objectExists(db, "select 1 from RDB$GENERATORS where RDB$GENERATOR_NAME = :n", name);
}

// Each trigger posts its notice once per transaction that changed the table: a batch of a
// thousand events wakes every console once.
struct Notice {
    const char *trigger;
    const char *table;
    const char *events;
    const char *notice;
    const char *condition; // empty: every change
};
const Notice kNotices[] = {
    {"TRG_EVENTOS_AVISO", "EVENTOS", "AFTER INSERT OR UPDATE OR DELETE", "TULMO_EVENTOS", ""},
    {"TRG_CLIENTES_AVISO", "CLIENTES", "AFTER INSERT OR UPDATE OR DELETE", "TULMO_CONTAS", ""},
    {"TRG_RECEIVER_AVISO", "RECEIVER", "AFTER INSERT OR UPDATE OR DELETE", "TULMO_RECEPTORAS",
     ""},
    // The lease is renewed every second: only a change of holder is news.
    {"TRG_GPRS_AVISO", "GPRS", "AFTER INSERT OR UPDATE OR DELETE", "TULMO_GPRS", ""},
    {"TRG_ALERTAS_AVISO", "ALERTAS_SUPERVISAO", "AFTER INSERT", "TULMO_ALERTAS", ""},
    {"TRG_DISPARO_AVISO", "CONTAS_DISPARADAS", "AFTER INSERT OR UPDATE OR DELETE", "TULMO_DISPARO",
     ""},
    {"TRG_RECEPCAO_AVISO", "RECEPCAO_ATIVA", "AFTER UPDATE", "TULMO_RECEPCAO",
     "IF (NEW.EPOCA IS DISTINCT FROM OLD.EPOCA) THEN "},
};
} // namespace

void ensureStation(QSqlDatabase db) {
    if (!Existe_Campo(db, "RECEPCAO_ATIVA", "EPOCA")) {
        run(db, "CREATE TABLE RECEPCAO_ATIVA (ID SMALLINT NOT NULL, ESTACAO VARCHAR(60), "
                "PROCESSO INTEGER, EPOCA BIGINT NOT NULL, CONTADOR BIGINT DEFAULT 0 NOT NULL, "
                "DESDE TIMESTAMP, RENOVADO TIMESTAMP, "
                "CONSTRAINT PK_RECEPCAO_ATIVA PRIMARY KEY (ID))");
    }
    // The one row; a second process inserting it at the same time is refused by the key.
    run(db, "INSERT INTO RECEPCAO_ATIVA (ID, EPOCA) SELECT 1, 0 FROM RDB$DATABASE WHERE NOT "
            "EXISTS (SELECT 1 FROM RECEPCAO_ATIVA WHERE ID = 1)");
    if (!Existe_Campo(db, "FILA_EVENTOS", "LINHA")) {
        run(db, "CREATE TABLE FILA_EVENTOS (FILA VARCHAR(40) NOT NULL, NUMERO BIGINT NOT NULL, "
                "ORDEM BIGINT NOT NULL, ESTACAO VARCHAR(60), LINHA VARCHAR(1000) NOT NULL, "
                "CONSTRAINT PK_FILA_EVENTOS PRIMARY KEY (FILA, NUMERO))");
        run(db, "CREATE INDEX IDX_FILA_EVENTOS_ORDEM ON FILA_EVENTOS (ORDEM)");
    }
    // Lines of an event queue recorded ahead of its head (alarms of a backlog, with the lines
    // of their accounts before them), until the queue's mark passes them.
    if (!Existe_Campo(db, "FILA_ADIANTADAS", "NUMERO"))
        run(db, "CREATE TABLE FILA_ADIANTADAS (FILA VARCHAR(40) NOT NULL, NUMERO BIGINT NOT NULL, "
                "CONSTRAINT PK_FILA_ADIANTADAS PRIMARY KEY (FILA, NUMERO))");
    // The repeater's frames, likewise, until forwarded.
    if (!Existe_Campo(db, "FILA_REPETIDORA", "LINHA")) {
        run(db, "CREATE TABLE FILA_REPETIDORA (FILA VARCHAR(40) NOT NULL, NUMERO BIGINT NOT NULL, "
                "ORDEM BIGINT NOT NULL, ESTACAO VARCHAR(60), LINHA VARCHAR(1000) NOT NULL, "
                "CONSTRAINT PK_FILA_REPETIDORA PRIMARY KEY (FILA, NUMERO))");
    }
    if (!generatorExists(db, QStringLiteral("GEN_FILA_EVENTOS")))
        run(db, "CREATE SEQUENCE GEN_FILA_EVENTOS");
    if (!Existe_Campo(db, "EVENTOS", "OPERADOR_TRATOU"))
        run(db, "ALTER TABLE EVENTOS ADD OPERADOR_TRATOU VARCHAR(20)");
    // When the pending window first showed the event: received (DATA), shown, treated
    // (DATA_INTERVENCAO) and by whom give the station's answer times.
    if (!Existe_Campo(db, "EVENTOS", "EXIBIDO")) run(db, "ALTER TABLE EVENTOS ADD EXIBIDO TIMESTAMP");
    // The supervision's alerts, raised where reception is and shown on every workstation.
    if (!Existe_Campo(db, "ALERTAS_SUPERVISAO", "TEXTO"))
        run(db, "CREATE TABLE ALERTAS_SUPERVISAO (ID BIGINT NOT NULL, TIPO SMALLINT NOT NULL, "
                "TEXTO VARCHAR(300) NOT NULL, QUANDO TIMESTAMP, ESTACAO VARCHAR(60), "
                "CONSTRAINT PK_ALERTAS_SUPERVISAO PRIMARY KEY (ID))");
    if (!generatorExists(db, QStringLiteral("GEN_ALERTAS_SUPERVISAO")))
        run(db, "CREATE SEQUENCE GEN_ALERTAS_SUPERVISAO");
    // Accounts flagged runaway: their events are recorded without being raised, marked in
    // EVENTOS.SUPRESSAO, until an operator clears the flag or they fall quiet.
    if (!Existe_Campo(db, "EVENTOS", "SUPRESSAO"))
        run(db, "ALTER TABLE EVENTOS ADD SUPRESSAO VARCHAR(12)");
    if (!Existe_Campo(db, "CONTAS_DISPARADAS", "CONTA"))
        run(db, "CREATE TABLE CONTAS_DISPARADAS (CONTA VARCHAR(6) NOT NULL, DESDE TIMESTAMP, "
                "ULTIMO TIMESTAMP, SINAIS INTEGER, CONSTRAINT PK_CONTAS_DISPARADAS PRIMARY KEY "
                "(CONTA))");
    // Accounts on test, and the storm mode: their events recorded without being raised.
    if (!Existe_Campo(db, "CONTAS_TESTE", "CONTA"))
        run(db, "CREATE TABLE CONTAS_TESTE (CONTA VARCHAR(6) NOT NULL, ZONAS VARCHAR(200), "
                "INICIO TIMESTAMP, FIM TIMESTAMP NOT NULL, OPERADOR VARCHAR(20), "
                "CONSTRAINT PK_CONTAS_TESTE PRIMARY KEY (CONTA))");
    if (!Existe_Campo(db, "MODO_TEMPESTADE", "ATIVO"))
        run(db, "CREATE TABLE MODO_TEMPESTADE (ID SMALLINT NOT NULL, ATIVO SMALLINT DEFAULT 0 NOT "
                "NULL, DESDE TIMESTAMP, OPERADOR VARCHAR(20), CONSTRAINT PK_MODO_TEMPESTADE "
                "PRIMARY KEY (ID))");
    // Who did what: written with each operator's action, never changed nor deleted.
    if (!Existe_Campo(db, "AUDITORIA", "ACAO")) {
        run(db, "CREATE TABLE AUDITORIA (ID BIGINT NOT NULL, QUANDO TIMESTAMP NOT NULL, "
                "OPERADOR VARCHAR(20), ESTACAO VARCHAR(60), ACAO VARCHAR(30) NOT NULL, "
                "CONTA VARCHAR(6), DESCRICAO VARCHAR(300), ANTES VARCHAR(4000), "
                "DEPOIS VARCHAR(4000), CONSTRAINT PK_AUDITORIA PRIMARY KEY (ID))");
        run(db, "CREATE INDEX IDX_AUDITORIA_QUANDO ON AUDITORIA (QUANDO)");
    }
    if (!generatorExists(db, QStringLiteral("GEN_AUDITORIA"))) run(db, "CREATE SEQUENCE GEN_AUDITORIA");
    // A treatment's audit row comes with the update that treats the event, in the engine: no
    // statement more for the console, and no treatment without its row. The workstation is the
    // one its connection said it was.
    if (!triggerExists(db, QStringLiteral("TRG_EVENTOS_AUDITORIA")))
        run(db, "CREATE TRIGGER TRG_EVENTOS_AUDITORIA FOR EVENTOS AFTER UPDATE POSITION 5 AS "
                "BEGIN IF (OLD.TRATADO = 0 AND NEW.TRATADO <> 0) THEN INSERT INTO AUDITORIA (ID, "
                "QUANDO, OPERADOR, ESTACAO, ACAO, CONTA, DESCRICAO, ANTES, DEPOIS) VALUES (NEXT "
                "VALUE FOR GEN_AUDITORIA, COALESCE(NEW.DATA_INTERVENCAO, CURRENT_TIMESTAMP), "
                "NEW.OPERADOR_TRATOU, RDB$GET_CONTEXT('USER_SESSION', 'TULMO_ESTACAO'), "
                "'Tratamento de evento', NEW.CONTA, SUBSTRING('Evento ' || NEW.SEQUENCIA || ': ' "
                "|| TRIM(COALESCE(NEW.CODIGO_ALARME, '')) || ' ' || TRIM(COALESCE(NEW.DESCRICAO, "
                "'')) FROM 1 FOR 300), 'TRATADO=0', 'TRATADO=1' || IIF(TRIM(COALESCE("
                "NEW.INTERVENCAO, '')) = '', '', '; INTERVENCAO=' || REPLACE(TRIM(NEW.INTERVENCAO), "
                "'; ', ', ')) || IIF(TRIM(COALESCE(NEW.DETALHES, '')) = '', '', '; DETALHES=' || "
                "REPLACE(TRIM(NEW.DETALHES), '; ', ', '))); END");
    if (!objectExists(db, "select 1 from RDB$EXCEPTIONS where RDB$EXCEPTION_NAME = :n",
                      QStringLiteral("E_AUDITORIA_FIXA")))
        run(db, "CREATE EXCEPTION E_AUDITORIA_FIXA 'AUDITORIA: registros nao podem ser alterados "
                "nem apagados'");
    if (!triggerExists(db, QStringLiteral("TRG_AUDITORIA_FIXA")))
        run(db, "CREATE TRIGGER TRG_AUDITORIA_FIXA FOR AUDITORIA BEFORE UPDATE OR DELETE AS "
                "BEGIN EXCEPTION E_AUDITORIA_FIXA; END");
    for (const Notice &n : kNotices) {
        if (triggerExists(db, QLatin1String(n.trigger))) continue;
        run(db, QStringLiteral("CREATE TRIGGER %1 FOR %2 %3 AS BEGIN %4POST_EVENT '%5'; END")
                    .arg(QLatin1String(n.trigger), QLatin1String(n.table), QLatin1String(n.events),
                         QLatin1String(n.condition), QLatin1String(n.notice)));
    }
}

qint64 schemaSize(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select (select count(*) from RDB$RELATION_FIELDS) + (select "
                               "count(*) from RDB$TRIGGERS) + (select count(*) from RDB$INDICES) "
                               "from RDB$DATABASE")) ||
        !q.next())
        return -1;
    return q.value(0).toLongLong();
}

bool upgradeComplete(QSqlDatabase db) {
    if (!Existe_Campo(db, "EVENTOS", "OPERADOR_TRATOU") || !Existe_Campo(db, "EVENTOS", "EXIBIDO") ||
        !Existe_Campo(db, "CLIENTES", "ULTIMO_EVENTO") || !Existe_Campo(db, "RECEIVER", "ENVIA_SMS") ||
        !Existe_Campo(db, "QUADRO_HORARIOS", "DIA") || !Existe_Campo(db, "GPRS", "CANAL1_MAXIMO") ||
        !Existe_Campo(db, "FILA_EVENTOS", "LINHA") || !Existe_Campo(db, "QUEUE_MARK", "QUEUE_ID") ||
        !Existe_Campo(db, "FILA_ADIANTADAS", "NUMERO") ||
        !Existe_Campo(db, "FILA_REPETIDORA", "LINHA") ||
        !Existe_Campo(db, "DC09_KEYS", "ACCOUNT") || !Existe_Campo(db, "OPERADORES", "NOME") ||
        !generatorExists(db, QStringLiteral("GEN_FILA_EVENTOS")) ||
        !Existe_Campo(db, "ALERTAS_SUPERVISAO", "TEXTO") ||
        !Existe_Campo(db, "EVENTOS", "SUPRESSAO") || !Existe_Campo(db, "CONTAS_DISPARADAS", "CONTA") ||
        !generatorExists(db, QStringLiteral("GEN_ALERTAS_SUPERVISAO")) ||
        !Existe_Campo(db, "AUDITORIA", "ACAO") || !generatorExists(db, QStringLiteral("GEN_AUDITORIA")) ||
        !triggerExists(db, QStringLiteral("TRG_AUDITORIA_FIXA")) ||
        !triggerExists(db, QStringLiteral("TRG_EVENTOS_AUDITORIA")) ||
        !Existe_Campo(db, "CONTAS_TESTE", "CONTA") || !Existe_Campo(db, "MODO_TEMPESTADE", "ATIVO"))
        return false;
    for (const Notice &n : kNotices)
        if (!triggerExists(db, QLatin1String(n.trigger))) return false;
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select 1 from RECEPCAO_ATIVA where ID = 1")) && q.next();
}

} // namespace tulmo::schema
