#include "support/TestSupport.h"

#include "core/common/Clock.h"
#include "core/store/Database.h"
#include "core/store/Schema.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

// The start-up time handed to the main-window step; a whole second so that it reads back
// exactly from a TIMESTAMP column.
QDateTime startTime() {
    return QDateTime(QDate(2024, 5, 17), QTime(9, 41, 27));
}

// Every row of sql, each row's values joined by "|", NULL written as "<null>".
QStringList rows(QSqlDatabase db, const QString &sql, const QVariantMap &params = {}) {
    QStringList out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) qFatal("prepare failed: %s", qPrintable(sql));
    for (auto it = params.begin(); it != params.end(); ++it)
        q.bindValue(it.key(), it.value());
    if (!q.exec()) qFatal("exec failed: %s", qPrintable(sql));
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            if (v.isNull())
                values << QStringLiteral("<null>");
            else if (v.metaType().id() == QMetaType::QDateTime)
                values << v.toDateTime().toString(Qt::ISODateWithMs);
            else
                values << v.toString().trimmed();
        }
        out << values.join(QLatin1Char('|'));
    }
    return out;
}

// The declared type of a column as DDL would write it ("SMALLINT", "CHAR(3)",
// "VARCHAR(400)"), followed by its default clause and " NOT NULL" where present; empty
// when the column does not exist.
QString typeOf(QSqlDatabase db, const QString &table, const QString &column) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare("select f.RDB$FIELD_TYPE, f.RDB$CHARACTER_LENGTH, r.RDB$NULL_FLAG, "
              "r.RDB$DEFAULT_SOURCE from RDB$RELATION_FIELDS r join RDB$FIELDS f "
              "on f.RDB$FIELD_NAME = r.RDB$FIELD_SOURCE "
              "where r.RDB$RELATION_NAME = :t and r.RDB$FIELD_NAME = :c");
    q.bindValue(":t", table);
    q.bindValue(":c", column);
    if (!q.exec() || !q.next()) return QString();
    QString type;
    switch (q.value(0).toInt()) {
    case 7:
        type = QStringLiteral("SMALLINT");
        break;
    case 8:
        type = QStringLiteral("INTEGER");
        break;
    case 13:
        type = QStringLiteral("TIME");
        break;
    case 14:
        type = QStringLiteral("CHAR(%1)").arg(q.value(1).toInt());
        break;
    case 35:
        type = QStringLiteral("TIMESTAMP");
        break;
    case 37:
        type = QStringLiteral("VARCHAR(%1)").arg(q.value(1).toInt());
        break;
    default:
        type = QStringLiteral("TYPE%1").arg(q.value(0).toInt());
        break;
    }
    const QString def = QString::fromUtf8(q.value(3).toByteArray()).simplified();
    if (!def.isEmpty()) type += QLatin1Char(' ') + def.toUpper();
    if (q.value(2).toInt() == 1) type += QStringLiteral(" NOT NULL");
    return type;
}

// Indexes of table as "NAME:COL1,COL2[:DESC]", active ones only.
QStringList indexesOf(QSqlDatabase db, const QString &table) {
    QStringList out;
    const QStringList names =
        rows(db,
             "select trim(RDB$INDEX_NAME), coalesce(RDB$INDEX_TYPE, 0) from RDB$INDICES "
             "where RDB$RELATION_NAME = :t and coalesce(RDB$INDEX_INACTIVE, 0) = 0 order by 1",
             {{":t", table}});
    for (const QString &row : names) {
        const QString name = row.section(QLatin1Char('|'), 0, 0);
        const bool desc = row.section(QLatin1Char('|'), 1, 1) == QLatin1String("1");
        const QStringList segs = rows(db,
                                      "select trim(RDB$FIELD_NAME) from RDB$INDEX_SEGMENTS "
                                      "where RDB$INDEX_NAME = :i order by RDB$FIELD_POSITION",
                                      {{":i", name}});
        out << name + QLatin1Char(':') + segs.join(QLatin1Char(',')) +
                   (desc ? QStringLiteral(":DESC") : QString());
    }
    return out;
}

// Whether table has an active index whose key begins with columns (and is descending when
// asked).
bool hasIndexStartingWith(QSqlDatabase db, const QString &table, const QString &columns,
                          bool descending = false) {
    for (const QString &idx : indexesOf(db, table)) {
        const QStringList parts = idx.split(QLatin1Char(':'));
        if (!parts.value(1).startsWith(columns)) continue;
        if (parts.value(1).size() != columns.size() &&
            parts.value(1).at(columns.size()) != QLatin1Char(','))
            continue;
        if (descending && parts.value(2) != QLatin1String("DESC")) continue;
        return true;
    }
    return false;
}

// Everything a start could change: user tables with their format version, columns, types
// and rows; indexes, constraints, triggers and generators with their values.
QStringList snapshot(QSqlDatabase db) {
    QStringList out;
    const QStringList tables = rows(db, "select trim(RDB$RELATION_NAME), RDB$FORMAT "
                                        "from RDB$RELATIONS where coalesce(RDB$SYSTEM_FLAG, 0) "
                                        "= 0 and RDB$VIEW_BLR is null order by 1");
    for (const QString &t : tables) {
        const QString table = t.section(QLatin1Char('|'), 0, 0);
        out << QStringLiteral("table ") + t;
        for (const QString &c : columnsOf(db, table))
            out << QStringLiteral("  column ") + c + QLatin1Char(' ') + typeOf(db, table, c);
        for (const QString &i : indexesOf(db, table))
            out << QStringLiteral("  index ") + i;
        QStringList data = rows(db, QStringLiteral("select * from %1").arg(table));
        data.sort();
        for (const QString &r : data)
            out << QStringLiteral("  row ") + r;
        for (const QString &c :
             rows(db,
                  "select trim(RDB$CONSTRAINT_NAME), trim(RDB$CONSTRAINT_TYPE), "
                  "trim(RDB$INDEX_NAME) from RDB$RELATION_CONSTRAINTS where RDB$RELATION_NAME "
                  "= :t and RDB$CONSTRAINT_TYPE in ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY') "
                  "order by 1",
                  {{":t", table}}))
            out << QStringLiteral("  constraint ") + c;
    }
    out << rows(db, "select 'trigger ' || trim(RDB$TRIGGER_NAME), trim(RDB$RELATION_NAME), "
                    "RDB$TRIGGER_TYPE, RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_INACTIVE from "
                    "RDB$TRIGGERS where coalesce(RDB$SYSTEM_FLAG, 0) = 0 order by 1");
    for (const QString &g : rows(db, "select trim(RDB$GENERATOR_NAME) from RDB$GENERATORS "
                                     "where coalesce(RDB$SYSTEM_FLAG, 0) = 0 order by 1"))
        out << QStringLiteral("generator ") + g + QLatin1Char('=') +
                   scalar(db, QStringLiteral("select gen_id(%1, 0) from RDB$DATABASE").arg(g))
                       .toString();
    return out;
}

// The 52 module columns the upgrade adds to GPRS, in their order.
QStringList gprsLaterColumns() {
    QStringList l;
    for (int i = 1; i <= 12; ++i)
        l << QStringLiteral("CANAL%1_MAXIMO").arg(i);
    for (int i = 1; i <= 12; ++i)
        l << QStringLiteral("CANAL%1_MINIMO").arg(i);
    for (int i = 1; i <= 12; ++i)
        l << QStringLiteral("CANAL%1_UNIDADE").arg(i);
    for (int i = 1; i <= 8; ++i)
        l << QStringLiteral("TIPO_PGM%1").arg(i);
    for (int i = 1; i <= 8; ++i)
        l << QStringLiteral("TEMPO_PGM%1").arg(i);
    return l;
}

// Both upgrade steps, as one start of the console runs them.
void runBothSteps(Database &database, const QDateTime &now) {
    schema::upgradeDataModuleStep(database.primary(), database.secondary());
    schema::upgradeMainWindowStep(database.primary(), now);
}

// Rows of an older installation: three accounts, two event codes, two receivers, a module
// and an event.
void seedOldRows(QSqlDatabase db) {
    for (int i = 1; i <= 3; ++i)
        exec(db, "insert into CLIENTES (CONTA, NOME, OBS) values (:c, :n, :o)",
             {{":c", QStringLiteral("00000%1").arg(i)},
              {":n", QStringLiteral("CLIENTE %1").arg(i)},
              {":o", QString(200, QLatin1Char(char('a' + i)))}});
    exec(db, "insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, REGISTRO_AUTOMATICO, "
             "PRIORIDADE) values ('E130', 'DISPARO', 2, 0, 3)");
    exec(db, "insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, REGISTRO_AUTOMATICO, "
             "PRIORIDADE) values ('R401', 'ARMADO', 1, 1, 1)");
    ReceiverRow(1).name("SERIAL").active(1).tcpPort(0).insertInto(db);
    ReceiverRow(2).name("TCP").active(0).tcpPort(9000).insertInto(db);
    GprsRow("123456").account("000001").status("A").blocked(0).equipment("12").insertInto(db);
    exec(db, "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, TIPO, DATA, TRATADO) values "
             "('000001', 'CLIENTE 1', 'E130', 'ALARME', '2023-01-02 03:04:05', 1)");
}

// Three schedule rows inserted without SEQUENCIA; returns the numbers they received.
QVariantList insertScheduleRows(QSqlDatabase db, const QString &conta) {
    for (const char *dia : {"DOM", "SEG", "TER"})
        exec(db,
             "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) "
             "values (:c, :d, '08:00:00', 1)",
             {{":c", conta}, {":d", QString::fromLatin1(dia)}});
    return column(db, "select SEQUENCIA from QUADRO_HORARIOS where CONTA = :c order by SEQUENCIA",
                  {{":c", conta}});
}

QVariantList ints(std::initializer_list<int> values) {
    QVariantList l;
    for (int v : values)
        l << v;
    return l;
}

// The parts of the full layout that every upgraded file must have, whatever it held before.
void verifyFullLayout(QSqlDatabase db) {
    QCOMPARE(columnsOf(db, "QUADRO_HORARIOS"),
             QStringList({"SEQUENCIA", "CONTA", "DIA", "HORA", "MARCADO"}));
    QCOMPARE(typeOf(db, "QUADRO_HORARIOS", "SEQUENCIA"), QString("INTEGER NOT NULL"));
    QCOMPARE(typeOf(db, "QUADRO_HORARIOS", "CONTA"), QString("VARCHAR(6)"));
    QCOMPARE(typeOf(db, "QUADRO_HORARIOS", "DIA"), QString("CHAR(3)"));
    QCOMPARE(typeOf(db, "QUADRO_HORARIOS", "HORA"), QString("TIME"));
    QCOMPARE(typeOf(db, "QUADRO_HORARIOS", "MARCADO"), QString("SMALLINT"));
    QCOMPARE(rows(db, "select trim(RDB$CONSTRAINT_NAME), trim(RDB$INDEX_NAME) from "
                      "RDB$RELATION_CONSTRAINTS where RDB$RELATION_NAME = 'QUADRO_HORARIOS' "
                      "and RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'"),
             QStringList{"PK_QUADRO_HORARIOS|PK_SEQUENCIA_QUADRO"});
    const QStringList idx = indexesOf(db, "QUADRO_HORARIOS");
    QVERIFY2(idx.contains("PK_SEQUENCIA_QUADRO:SEQUENCIA"), qPrintable(idx.join(' ')));
    QVERIFY2(idx.contains("_IDX_CONTA_QUADRO:CONTA"), qPrintable(idx.join(' ')));
    // Type 1 is "before insert"; the trigger is active at position 0.
    QCOMPARE(rows(db, "select trim(RDB$RELATION_NAME), RDB$TRIGGER_TYPE, RDB$TRIGGER_SEQUENCE, "
                      "coalesce(RDB$TRIGGER_INACTIVE, 0) from RDB$TRIGGERS "
                      "where RDB$TRIGGER_NAME = 'QUADRO_HORARIOS_BI0'"),
             QStringList{"QUADRO_HORARIOS|1|0|0"});
    QCOMPARE(scalar(db, "select count(*) from RDB$GENERATORS "
                        "where RDB$GENERATOR_NAME = 'GEN_SEQUENCIA_QUADRO_HORARIOS'")
                 .toInt(),
             1);

    QCOMPARE(typeOf(db, "CLIENTES", "DESARMADOS"), QString("SMALLINT"));
    QCOMPARE(typeOf(db, "CLIENTES", "REARME"), QString("SMALLINT"));
    QCOMPARE(typeOf(db, "CLIENTES", "OBS"), QString("VARCHAR(400)"));
    QCOMPARE(typeOf(db, "CLIENTES", "ULTIMO_EVENTO"), QString("TIMESTAMP"));
    QCOMPARE(typeOf(db, "CLIENTES", "EVENTO_ATRASADO"), QString("SMALLINT"));
    QCOMPARE(typeOf(db, "CLIENTES", "TEMPO_ATRASO"), QString("SMALLINT"));

    const QStringList gprs = columnsOf(db, "GPRS");
    QVERIFY(gprs.size() >= 52);
    QCOMPARE(gprs.mid(gprs.size() - 52), gprsLaterColumns());
    for (int i = 1; i <= 12; ++i) {
        QCOMPARE(typeOf(db, "GPRS", QStringLiteral("CANAL%1_MAXIMO").arg(i)),
                 QString("SMALLINT DEFAULT 255"));
        QCOMPARE(typeOf(db, "GPRS", QStringLiteral("CANAL%1_MINIMO").arg(i)),
                 QString("SMALLINT DEFAULT 0"));
        QCOMPARE(typeOf(db, "GPRS", QStringLiteral("CANAL%1_UNIDADE").arg(i)), QString("CHAR(10)"));
    }
    for (int i = 1; i <= 8; ++i) {
        QCOMPARE(typeOf(db, "GPRS", QStringLiteral("TIPO_PGM%1").arg(i)),
                 QString("SMALLINT DEFAULT 0"));
        QCOMPARE(typeOf(db, "GPRS", QStringLiteral("TEMPO_PGM%1").arg(i)),
                 QString("SMALLINT DEFAULT 1"));
    }

    QCOMPARE(typeOf(db, "EVENTOS_PADRAO", "SOM"), QString("VARCHAR(200)"));
    QCOMPARE(typeOf(db, "EVENTOS_PADRAO", "SOM_CONTINUO"), QString("SMALLINT"));
    QCOMPARE(typeOf(db, "EVENTOS_PADRAO", "ENVIO_SMS"), QString("SMALLINT"));
    QCOMPARE(typeOf(db, "RECEIVER", "ENVIA_SMS"), QString("SMALLINT"));

    QCOMPARE(columnsOf(db, "OPERADORES"), QStringList({"NOME", "PERMISSOES", "SENHA"}));
    QCOMPARE(typeOf(db, "OPERADORES", "NOME"), QString("VARCHAR(20) NOT NULL"));
    QCOMPARE(typeOf(db, "OPERADORES", "PERMISSOES"), QString("INTEGER"));
    QCOMPARE(typeOf(db, "OPERADORES", "SENHA"), QString("VARCHAR(8)"));
    QCOMPARE(rows(db, "select trim(RDB$CONSTRAINT_NAME) from RDB$RELATION_CONSTRAINTS "
                      "where RDB$RELATION_NAME = 'OPERADORES' "
                      "and RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'"),
             QStringList{"PK_OPERADORES"});
}

// A module registered after the upgrade, with only its identifier given, carries the
// column defaults.
void verifyNewModuleDefaults(QSqlDatabase db) {
    GprsRow("999999").insertInto(db);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QVERIFY(q.exec("select * from GPRS where IMEI = '999999'"));
    QVERIFY(q.next());
    const QSqlRecord r = q.record();
    for (int i = 1; i <= 12; ++i) {
        QCOMPARE(q.value(r.indexOf(QStringLiteral("CANAL%1_MAXIMO").arg(i))).toInt(), 255);
        QCOMPARE(q.value(r.indexOf(QStringLiteral("CANAL%1_MINIMO").arg(i))).toInt(), 0);
        QVERIFY(!q.value(r.indexOf(QStringLiteral("CANAL%1_MINIMO").arg(i))).isNull());
        QVERIFY(q.value(r.indexOf(QStringLiteral("CANAL%1_UNIDADE").arg(i))).isNull());
    }
    for (int i = 1; i <= 8; ++i) {
        QVERIFY(!q.value(r.indexOf(QStringLiteral("TIPO_PGM%1").arg(i))).isNull());
        QCOMPARE(q.value(r.indexOf(QStringLiteral("TIPO_PGM%1").arg(i))).toInt(), 0);
        QCOMPARE(q.value(r.indexOf(QStringLiteral("TEMPO_PGM%1").arg(i))).toInt(), 1);
    }
}

// The operator's message for a file that cannot be opened: Portuguese, naming the file and
// giving the engine's reason.
void verifyOpenFailureMessage(const QString &message, const QString &file) {
    QVERIFY2(message.startsWith(QString::fromUtf8("Não foi possível abrir o banco de dados")),
             qPrintable(message));
    QVERIFY2(message.contains(QDir::toNativeSeparators(file)), qPrintable(message));
    const qsizetype motivo = message.indexOf(QStringLiteral("Motivo: "));
    QVERIFY2(motivo > 0, qPrintable(message));
    const QString reason = message.mid(motivo + 8).section(QLatin1Char('\n'), 0, 0).trimmed();
    // The engine's own words, not only the driver's generic "could not open".
    QVERIFY2(QString(reason).remove(QStringLiteral("Error opening database")).trimmed().size() > 5,
             qPrintable(message));
}

} // namespace

class TestSchema : public QObject {
    Q_OBJECT
private slots:
    void existeCampoIgnoresCaseOfColumn();
    void oldLayoutUpgradesToFullLayout();
    void partlyUpgradedFileUpgradesFullyAndKeepsData();
    void secondStartChangesNothing();
    void newInstallationHasFullLayoutForcedWritesAndIndexes();
    void unopenableFileStopsStartWithClearMessage();
};

void TestSchema::existeCampoIgnoresCaseOfColumn() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Database database(dir.filePath("Dados/TULMO.FDB"));
    QString error;
    QVERIFY2(database.open(&error), qPrintable(error));
    QSqlDatabase db = database.primary();

    QVERIFY(schema::Existe_Campo(db, "CLIENTES", "CONTA"));
    QVERIFY(schema::Existe_Campo(db, "CLIENTES", "conta"));
    QVERIFY(schema::Existe_Campo(db, "CLIENTES", "Evento_Idecall"));
    QVERIFY(schema::Existe_Campo(db, "EVENTOS_PADRAO", "codigo_evento"));
    // A prefix of a column, another table's column and a missing table are all absent.
    QVERIFY(!schema::Existe_Campo(db, "CLIENTES", "CONT"));
    QVERIFY(!schema::Existe_Campo(db, "CLIENTES", "CODIGO_EVENTO"));
    QVERIFY(!schema::Existe_Campo(db, "CLIENTES", "ultimo_evento"));
    QVERIFY(!schema::Existe_Campo(db, "NAO_EXISTE", "CONTA"));
    QVERIFY(!schema::Existe_Campo(db, "QUADRO_HORARIOS", "dia"));

    // Once the upgrade has added the column it is found in any case.
    runBothSteps(database, startTime());
    QVERIFY(schema::Existe_Campo(db, "CLIENTES", "ultimo_evento"));
    QVERIFY(schema::Existe_Campo(db, "QUADRO_HORARIOS", "dia"));
    QVERIFY(schema::Existe_Campo(db, "OPERADORES", "Nome"));
}

void TestSchema::oldLayoutUpgradesToFullLayout() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Database database(dir.filePath("Dados/TULMO.FDB"));
    QString error;
    QVERIFY2(database.open(&error), qPrintable(error));
    QVERIFY(database.created());
    QSqlDatabase db = database.primary();

    // The base layout is the layout of the first shipped file: none of the later parts.
    QVERIFY(columnsOf(db, "QUADRO_HORARIOS").isEmpty());
    QVERIFY(columnsOf(db, "OPERADORES").isEmpty());
    QCOMPARE(typeOf(db, "CLIENTES", "OBS"), QString("VARCHAR(200)"));
    for (const char *c :
         {"DESARMADOS", "REARME", "ULTIMO_EVENTO", "EVENTO_ATRASADO", "TEMPO_ATRASO"})
        QVERIFY2(typeOf(db, "CLIENTES", c).isEmpty(), c);
    for (const char *c : {"SOM", "SOM_CONTINUO", "ENVIO_SMS"})
        QVERIFY2(typeOf(db, "EVENTOS_PADRAO", c).isEmpty(), c);
    QVERIFY(typeOf(db, "RECEIVER", "ENVIA_SMS").isEmpty());
    QVERIFY(typeOf(db, "GPRS", "CANAL1_MAXIMO").isEmpty());

    seedOldRows(db);
    const QStringList oldGprsColumns = columnsOf(db, "GPRS");

    // The data-module step opens the second connection again when it is closed.
    database.secondary().close();
    runBothSteps(database, startTime());
    QVERIFY(database.secondary().isOpen());

    verifyFullLayout(db);
    QCOMPARE(columnsOf(db, "GPRS").mid(0, oldGprsColumns.size()), oldGprsColumns);
    QCOMPARE(columnsOf(db, "GPRS").size(), oldGprsColumns.size() + 52);

    // Exactly one first operator.
    QCOMPARE(rows(db, "select NOME, PERMISSOES, SENHA from OPERADORES"),
             QStringList{"admin|65535|kavra"});

    // Every existing code sends SMS, every existing receiver is marked for SMS.
    QCOMPARE(rows(db, "select CODIGO_EVENTO, ENVIO_SMS from EVENTOS_PADRAO order by 1"),
             QStringList({"E130|1", "R401|1"}));
    QCOMPARE(rows(db, "select RECEIVER, ENVIA_SMS from RECEIVER order by 1"),
             QStringList({"1|1", "2|1"}));

    // No account is silent before a whole day after the upgrade.
    QCOMPARE(rows(db, "select CONTA, ULTIMO_EVENTO, EVENTO_ATRASADO, TEMPO_ATRASO "
                      "from CLIENTES order by 1"),
             QStringList({"000001|2024-05-17T09:41:27.000|0|1440",
                          "000002|2024-05-17T09:41:27.000|0|1440",
                          "000003|2024-05-17T09:41:27.000|0|1440"}));
    QCOMPARE(column(db, "select ULTIMO_EVENTO from CLIENTES where CONTA = '000002'")
                 .value(0)
                 .toDateTime(),
             startTime());

    // The old data is all still there.
    QCOMPARE(rows(db, "select CONTA, NOME, OBS from CLIENTES order by 1"),
             QStringList({"000001|CLIENTE 1|" + QString(200, 'b'),
                          "000002|CLIENTE 2|" + QString(200, 'c'),
                          "000003|CLIENTE 3|" + QString(200, 'd')}));
    QCOMPARE(rows(db, "select CODIGO_EVENTO, DESCRICAO, TIPO, REGISTRO_AUTOMATICO, PRIORIDADE "
                      "from EVENTOS_PADRAO order by 1"),
             QStringList({"E130|DISPARO|2|0|3", "R401|ARMADO|1|1|1"}));
    QCOMPARE(rows(db, "select RECEIVER, NOME, ATIVO, PORTA_TCP from RECEIVER order by 1"),
             QStringList({"1|SERIAL|1|0", "2|TCP|0|9000"}));
    QCOMPARE(rows(db, "select IMEI, CONTA, STATUS, LISTA_NEGRA, EQUIPAMENTO from GPRS"),
             QStringList{"123456|000001|A|0|12"});
    QCOMPARE(rows(db, "select CONTA, CODIGO_ALARME, DATA, TRATADO from EVENTOS"),
             QStringList{"000001|E130|2023-01-02T03:04:05.000|1"});

    // The wider notes column takes 400 characters, and no more.
    const QString notes400(400, QLatin1Char('z'));
    exec(db, "update CLIENTES set OBS = :o where CONTA = '000001'", {{":o", notes400}});
    QCOMPARE(scalar(db, "select OBS from CLIENTES where CONTA = '000001'").toString(), notes400);
    {
        QSqlQuery q(db);
        q.prepare("update CLIENTES set OBS = :o where CONTA = '000001'");
        q.bindValue(":o", notes400 + QLatin1Char('z'));
        QVERIFY(!q.exec());
    }

    verifyNewModuleDefaults(db);

    // The schedule's key comes from its generator: 1, 2, 3.
    QCOMPARE(insertScheduleRows(db, "000001"), ints({1, 2, 3}));
}

void TestSchema::partlyUpgradedFileUpgradesFullyAndKeepsData() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("TULMO.FDB");
    QString error;
    QVERIFY2(schema::createDatabaseFile(DatabaseLocation::embedded(file), &error), qPrintable(error));
    Database database(file);
    QVERIFY2(database.open(&error), qPrintable(error));
    QVERIFY(!database.created());
    QSqlDatabase db = database.primary();

    // A file from between releases: some later columns already there, an operator table
    // with nobody in it, and the schedule generator left by an interrupted upgrade.
    exec(db, "CREATE TABLE CLIENTES (CONTA VARCHAR(6) NOT NULL PRIMARY KEY, NOME VARCHAR(40), "
             "OBS VARCHAR(200), DESARMADOS SMALLINT, REARME SMALLINT)");
    exec(db, "CREATE TABLE EVENTOS_PADRAO (CODIGO_EVENTO VARCHAR(4) NOT NULL PRIMARY KEY, "
             "DESCRICAO VARCHAR(40), TIPO SMALLINT, REGISTRO_AUTOMATICO SMALLINT, "
             "PRIORIDADE SMALLINT, SOM VARCHAR(200))");
    exec(db, "CREATE TABLE RECEIVER (RECEIVER INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(40), "
             "ATIVO SMALLINT, ENVIA_SMS SMALLINT)");
    exec(db, "CREATE TABLE GPRS (IMEI VARCHAR(6) NOT NULL PRIMARY KEY, CONTA VARCHAR(6), "
             "STATUS VARCHAR(1))");
    exec(db, "CREATE TABLE OPERADORES (NOME VARCHAR(20) NOT NULL, PERMISSOES INTEGER, "
             "SENHA VARCHAR(8), CONSTRAINT PK_OPERADORES PRIMARY KEY (NOME))");
    exec(db, "CREATE GENERATOR GEN_SEQUENCIA_QUADRO_HORARIOS");

    exec(db, "insert into CLIENTES (CONTA, NOME, OBS, DESARMADOS, REARME) "
             "values ('000010', 'MERCADO', 'portão lateral', 1, 0)");
    exec(db, "insert into CLIENTES (CONTA, NOME, OBS, DESARMADOS, REARME) "
             "values ('000011', 'FARMÁCIA', null, 0, 1)");
    exec(db, "insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO, SOM) "
             "values ('E120', 'PÂNICO', 5, '/sons/panico.wav')");
    ReceiverRow(1).name("R1").active(1).sendsSms(0).insertInto(db);
    ReceiverRow(2).name("R2").active(1).sendsSms(1).insertInto(db);
    GprsRow("654321").account("000010").status("P").insertInto(db);

    runBothSteps(database, startTime());

    verifyFullLayout(db);

    // Data already there is kept, columns already there keep their values.
    QCOMPARE(rows(db, "select CONTA, NOME, OBS, DESARMADOS, REARME from CLIENTES order by 1"),
             QStringList({QString::fromUtf8("000010|MERCADO|portão lateral|1|0"),
                          QString::fromUtf8("000011|FARMÁCIA|<null>|0|1")}));
    QCOMPARE(rows(db, "select CODIGO_EVENTO, DESCRICAO, TIPO, SOM, SOM_CONTINUO, ENVIO_SMS "
                      "from EVENTOS_PADRAO"),
             QStringList{QString::fromUtf8("E120|PÂNICO|5|/sons/panico.wav|<null>|1")});
    QCOMPARE(rows(db, "select RECEIVER, NOME, ENVIA_SMS from RECEIVER order by 1"),
             QStringList({"1|R1|0", "2|R2|1"}));
    QCOMPARE(rows(db, "select IMEI, CONTA, STATUS from GPRS"), QStringList{"654321|000010|P"});
    QCOMPARE(rows(db, "select CONTA, ULTIMO_EVENTO, EVENTO_ATRASADO, TEMPO_ATRASO "
                      "from CLIENTES order by 1"),
             QStringList({"000010|2024-05-17T09:41:27.000|0|1440",
                          "000011|2024-05-17T09:41:27.000|0|1440"}));

    // An operator table that exists is left alone, even empty: no first operator.
    QCOMPARE(scalar(db, "select count(*) from OPERADORES").toInt(), 0);

    verifyNewModuleDefaults(db);
    QCOMPARE(insertScheduleRows(db, "000010"), ints({1, 2, 3}));
}

void TestSchema::secondStartChangesNothing() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("Dados/TULMO.FDB");
    QStringList afterFirst;
    {
        Database database(file);
        QString error;
        QVERIFY2(database.open(&error), qPrintable(error));
        QSqlDatabase db = database.primary();
        seedOldRows(db);
        runBothSteps(database, startTime());
        schema::ensureIndexes(db);
        schema::ensureQueueMark(db);
        schema::ensureDc09Keys(db);
        schema::ensureStation(db);
        QCOMPARE(insertScheduleRows(db, "000001"), ints({1, 2, 3}));

        // The console's own work after the first start: values a repeated upgrade statement
        // would overwrite, and an operator table emptied by the operators themselves.
        exec(db, "update EVENTOS_PADRAO set ENVIO_SMS = 0 where CODIGO_EVENTO = 'E130'");
        exec(db, "update RECEIVER set ENVIA_SMS = 0 where RECEIVER = 2");
        exec(db, "update CLIENTES set ULTIMO_EVENTO = '2024-05-18 10:00:00', EVENTO_ATRASADO = 1, "
                 "TEMPO_ATRASO = 60, DESARMADOS = 1, REARME = 1 where CONTA = '000002'");
        exec(db, "update CLIENTES set OBS = :o where CONTA = '000003'",
             {{":o", QString(400, QLatin1Char('x'))}});
        exec(db, "update GPRS set CANAL1_MAXIMO = 100, TEMPO_PGM8 = 5");
        exec(db, "delete from OPERADORES");
        afterFirst = snapshot(db);
    }
    QVERIFY(afterFirst.size() > 100);

    // Second start, a day later, through the two steps.
    {
        Database database(file);
        QString error;
        QVERIFY2(database.open(&error), qPrintable(error));
        QVERIFY(!database.created());
        runBothSteps(database, startTime().addDays(1));
        schema::ensureIndexes(database.primary());
        schema::ensureQueueMark(database.primary());
        schema::ensureDc09Keys(database.primary());
        schema::ensureStation(database.primary());
        const QStringList afterSecond = snapshot(database.primary());
        QCOMPARE(afterSecond, afterFirst);
    }

    // Third start, as the console makes it.
    {
        ManualClock clock(startTime().addDays(2));
        ConsoleCore core(dir.path(), clock, nullptr, nullptr);
        QString error;
        QVERIFY2(core.start(&error), qPrintable(error));
        QSqlDatabase db = core.database().primary();
        QCOMPARE(snapshot(db), afterFirst);
        // The schedule generator carries on where it was.
        exec(db, "insert into QUADRO_HORARIOS (CONTA, DIA, HORA, MARCADO) "
                 "values ('000002', 'QUA', '09:00:00', 0)");
        QCOMPARE(scalar(db, "select SEQUENCIA from QUADRO_HORARIOS where CONTA = '000002'").toInt(),
                 4);
    }
}

void TestSchema::newInstallationHasFullLayoutForcedWritesAndIndexes() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ManualClock clock(startTime());
    RecordingSound sound;
    ScriptedPrompt prompt;
    ConsoleCore core(dir.path(), clock, &prompt, &sound);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    QVERIFY(core.database().created());
    QCOMPARE(core.database().databaseFile(), dir.filePath("Dados/TULMO.FDB"));
    QVERIFY(QFile::exists(dir.filePath("Dados/TULMO.FDB")));
    QSqlDatabase db = core.database().primary();

    verifyFullLayout(db);
    QCOMPARE(rows(db, "select NOME, PERMISSOES, SENHA from OPERADORES"),
             QStringList{"admin|65535|kavra"});
    // Every base table is there with its key column.
    for (const char *t : {"CLIENTES", "EVENTOS", "ZONAS", "PARTICOES", "USUARIOS", "RECEIVER",
                          "GPRS", "EVENTOS_PADRAO"})
        QVERIFY2(!columnsOf(db, t).isEmpty(), t);
    QCOMPARE(typeOf(db, "CLIENTES", "CONTA"), QString("VARCHAR(6) NOT NULL"));
    QCOMPARE(typeOf(db, "EVENTOS", "DESCRICAO"), QString("VARCHAR(60)"));
    QCOMPARE(typeOf(db, "EVENTOS", "INTERVENCAO"), QString("VARCHAR(20)"));
    QCOMPARE(typeOf(db, "GPRS", "IMEI"), QString("VARCHAR(6) NOT NULL"));

    // The database assigns the event number and the account identifier.
    exec(db, "insert into EVENTOS (CONTA, DESCRICAO, TIPO) values ('000001', :d, :t)",
         {{":d", QString::fromUtf8("RESTAURAÇÃO ZONA 1")},
          {":t", QString::fromUtf8("RESTAURAÇÃO")}});
    exec(db, "insert into EVENTOS (CONTA, TIPO) values ('000002', 'ALARME')");
    QCOMPARE(column(db, "select SEQUENCIA from EVENTOS order by SEQUENCIA"), ints({1, 2}));
    QCOMPARE(scalar(db, "select TIPO from EVENTOS where SEQUENCIA = 1").toString(),
             QString::fromUtf8("RESTAURAÇÃO"));
    exec(db, "insert into CLIENTES (CONTA, NOME) values ('000001', 'A')");
    QVERIFY(!scalar(db, "select ID from CLIENTES where CONTA = '000001'").isNull());

    // A power cut must not lose a committed event: forced (synchronous) writes.
    QCOMPARE(scalar(db, "select MON$FORCED_WRITES from MON$DATABASE").toInt(), 1);
    QCOMPARE(scalar(db, "select trim(RDB$CHARACTER_SET_NAME) from RDB$DATABASE").toString(),
             QString("WIN1252"));

    // The queries run every second or on every event have their indexes.
    const QString events = indexesOf(db, "EVENTOS").join(' ');
    QVERIFY2(hasIndexStartingWith(db, "EVENTOS", "DATA", true), qPrintable(events));
    QVERIFY2(hasIndexStartingWith(db, "EVENTOS", "TRATADO"), qPrintable(events));
    QVERIFY2(hasIndexStartingWith(db, "EVENTOS", "CONTA"), qPrintable(events));
    const QString accounts = indexesOf(db, "CLIENTES").join(' ');
    QVERIFY2(hasIndexStartingWith(db, "CLIENTES", "DESARMADOS"), qPrintable(accounts));
    QVERIFY2(hasIndexStartingWith(db, "CLIENTES", "REARME"), qPrintable(accounts));
    QVERIFY2(hasIndexStartingWith(db, "CLIENTES", "EVENTO_ATRASADO"), qPrintable(accounts));
    QVERIFY(prompt.shown.isEmpty());
}

void TestSchema::unopenableFileStopsStartWithClearMessage() {
    // Garbage where the database should be, and an empty file (a copy cut short).
    QByteArray garbage;
    for (int i = 0; i < 64 * 1024; ++i)
        garbage.append(char((i * 7919 + 13) % 251));
    for (const QByteArray &content : {garbage, QByteArray()}) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath("Dados"));
        const QString file = dir.filePath("Dados/TULMO.FDB");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }

        {
            Database database(file);
            QString error;
            QVERIFY(!database.open(&error));
            QVERIFY(!database.isOpen());
            QVERIFY(!database.created());
            verifyOpenFailureMessage(error, file);
        }

        {
            ManualClock clock(startTime());
            ScriptedPrompt prompt;
            ConsoleCore core(dir.path(), clock, &prompt, nullptr);
            QString error;
            QVERIFY(!core.start(&error));
            verifyOpenFailureMessage(error, file);
        }

        // The unreadable file is the operator's to rescue: never replaced by a new one.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
}

QTEST_GUILESS_MAIN(TestSchema)
#include "test_schema.moc"
