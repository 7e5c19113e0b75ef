#include "support/TestSupport.h"

#include "core/registry/EventCodeRepository.h"
#include "core/registry/StandardCatalogue.h"

#include <QHash>
#include <QSet>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

QStringList catalogue(QSqlDatabase db) {
    QStringList l;
    for (const QVariant &v :
         column(db, "select CODIGO_EVENTO || '|' || coalesce(DESCRICAO, '') || '|' || "
                    "coalesce(TIPO, '') || '|' || coalesce(REGISTRO_AUTOMATICO, '') || '|' || "
                    "coalesce(PRIORIDADE, '') from EVENTOS_PADRAO order by CODIGO_EVENTO"))
        l << v.toString();
    return l;
}

// A database error for the rows named FAIL*: the engine refuses them the way it refuses a
// conflict or a full disk, after the rows before them were written in the same transaction.
void refuseFailRows(QSqlDatabase db) {
    exec(db, "CREATE EXCEPTION E_RECUSADO 'recusado'");
    exec(db, "CREATE TRIGGER EP_RECUSA FOR EVENTOS_PADRAO BEFORE INSERT OR UPDATE AS BEGIN "
             "IF (NEW.CODIGO_EVENTO STARTING WITH 'FAIL') THEN EXCEPTION E_RECUSADO; END");
}

EventCode code(const QString &codigo, const QString &descricao) {
    EventCode row;
    row[EventCode::CodigoEvento] = codigo;
    row[EventCode::Descricao] = descricao;
    return row;
}

} // namespace

class TestStandardCatalogue : public QObject {
    Q_OBJECT
private slots:
    void newDatabaseRecordsStandardCodes();
    void catalogueRowsAreWellFormed();
    void existingCatalogueIsNeverTouched();
    void nothingHalfSavedOnDatabaseError();
};

void TestStandardCatalogue::newDatabaseRecordsStandardCodes() {
    Station s;
    s.addAccount("001234", "MARIA");
    QVERIFY(s.prompt.shown.isEmpty());
    QCOMPARE(scalar(s.db(), "select count(*) from EVENTOS_PADRAO").toInt(),
             int(StandardCatalogue::rows().size()));

    // No code added by hand: the catalogue of the new database classifies them.
    const struct {
        const char *codigo, *tipo, *descricao;
        int tratado, prioridade;
    } expected[] = {
        {"1401", "DESARMADO", "DESARMADO PELO USUÁRIO 3", 1, 2},
        {"3401", "ARMADO", "ARMADO PELO USUÁRIO 3", 1, 2},
        {"1130", "ALARME", "ALARME DE INTRUSÃO 3", 0, 4},
        {"3130", "RESTAURAÇÃO", "RESTAURO ALARME DE INTRUSÃO 3", 1, 1},
        {"1110", "EMERGENCIA", "ALARME DE INCÊNDIO", 0, 5},
        {"1120", "PANICO", "PÂNICO", 0, 5},
        {"1602", "PERIÓDICO", "TESTE PERIÓDICO", 1, 1},
        {"1301", "FALHAS", "FALTA DE ENERGIA AC", 1, 3},
    };
    for (const auto &e : expected) {
        s.sound.calls.clear();
        QCOMPARE(s.record(eventLine(e.codigo, "10:00:00")).status, RecordResult::Status::Stored);
        QCOMPARE(s.last("CODIGO_ALARME").toString(), QString(e.codigo));
        QCOMPARE(s.last("TIPO").toString(), QString::fromUtf8(e.tipo));
        QCOMPARE(s.last("DESCRICAO").toString(), QString::fromUtf8(e.descricao));
        QCOMPARE(s.last("TRATADO").toInt(), e.tratado);
        QCOMPARE(s.last("PRIORIDADE").toInt(), e.prioridade);
        // What waits for an operator sounds until silenced; the rest beeps once.
        if (e.tratado == 0)
            QVERIFY2(
                s.sound.calls.contains(QStringLiteral("loop:") + StandardCatalogue::kAlarmSound),
                qPrintable(s.sound.calls.join(',')));
        else
            QVERIFY2(s.sound.calls.contains(QStringLiteral("once:")),
                     qPrintable(s.sound.calls.join(',')));
    }
    QCOMPARE(s.accountColumn("DESARMADOS", "001234").toInt(), 0); // armed again by 3401
}

void TestStandardCatalogue::catalogueRowsAreWellFormed() {
    Station s;
    const QList<EventCode> rows = EventCodeRepository::list(s.db());
    QVERIFY(rows.size() > 300);
    QSet<QString> codes;
    QHash<QString, int> tipos;
    for (const EventCode &r : rows) {
        const QString c = r.codigo();
        const QString d = r[EventCode::Descricao].toString();
        QVERIFY2(c.size() == 4 && (c[0] == '1' || c[0] == '3'), qPrintable(c));
        QVERIFY2(!codes.contains(c), qPrintable(c));
        codes << c;
        tipos.insert(c, r[EventCode::Tipo].toInt());
        QVERIFY2(!d.isEmpty() && d.size() <= 40, qPrintable(c + ' ' + d));
        const int tipo = r[EventCode::Tipo].toInt();
        QVERIFY2(QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8}).contains(tipo), qPrintable(c));
        // Alarms wait for an operator and reach the holder; nothing else does either.
        const bool alarm = tipo == 2 || tipo == 4 || tipo == 5;
        QCOMPARE(r[EventCode::RegistroAutomatico].toInt(), alarm ? 0 : 1);
        QCOMPARE(r[EventCode::EnvioSms].toInt(), alarm ? 1 : 0);
        QCOMPARE(r[EventCode::SomContinuo].toInt(), alarm ? 1 : 0);
        const int p = r[EventCode::Prioridade].toInt();
        QVERIFY2(p >= 1 && p <= 5 && (!alarm || p >= 3), qPrintable(c));
    }
    // An alarm's restore is a restoration; an opening is a disarm and its closing an arm.
    for (auto i = tipos.cbegin(); i != tipos.cend(); ++i) {
        if (!i.key().startsWith('1') || !tipos.contains('3' + i.key().mid(1))) continue;
        const int restore = tipos.value('3' + i.key().mid(1));
        if (i.value() == 0) QCOMPARE(restore, 1);
        if (i.value() == 2 || i.value() == 4 || i.value() == 5) QCOMPARE(restore, 3);
    }
    // Every number of the Contact ID families a panel reports for alarms, troubles and
    // openings is there with its restore or closing.
    for (const char *c :
         {"1100", "3100", "1118", "1125", "3125", "1139", "1163", "3163", "1206", "1313", "1327",
          "3344", "1357", "1378", "3393", "1409", "3409", "3441", "1570", "3570", "1616", "1654"})
        QVERIFY2(codes.contains(QString::fromLatin1(c)), c);
}

void TestStandardCatalogue::existingCatalogueIsNeverTouched() {
    QTemporaryDir dir;
    ManualClock clock(QDateTime(QDate(2026, 3, 8), QTime(22, 15, 0)));
    ScriptedPrompt prompt;
    RecordingSound sound;
    QStringList before;
    {
        ConsoleCore core(dir.path(), clock, &prompt, &sound);
        QString error;
        QVERIFY2(core.start(&error), qPrintable(error));
        QSqlDatabase db = core.database().primary();
        // The station's own choices: a code removed, one changed, one of its own.
        exec(db, "delete from EVENTOS_PADRAO where CODIGO_EVENTO = '1401'");
        exec(db, "update EVENTOS_PADRAO set DESCRICAO = 'ROUBO', PRIORIDADE = 2 "
                 "where CODIGO_EVENTO = '1130'");
        exec(db, "insert into EVENTOS_PADRAO (CODIGO_EVENTO, DESCRICAO, TIPO) "
                 "values ('E999', 'PROPRIO', 9)");
        before = catalogue(db);
    }
    ConsoleCore core(dir.path(), clock, &prompt, &sound);
    QString error;
    QVERIFY2(core.start(&error), qPrintable(error));
    QVERIFY(!core.database().created());
    const QStringList after = catalogue(core.database().primary());
    QCOMPARE(after, before);
    QVERIFY(!after.join(',').contains("1401|"));
    QVERIFY(after.contains("1130|ROUBO|2|0|2"));
    QVERIFY(after.contains("E999|PROPRIO|9||"));
    QVERIFY(prompt.shown.isEmpty());
}

void TestStandardCatalogue::nothingHalfSavedOnDatabaseError() {
    Station s;
    QSqlDatabase db = s.core->database().secondary();
    const QStringList standard = catalogue(db);
    refuseFailRows(s.db());

    QString errorText;
    QVERIFY(!EventCodeRepository::insertAll(
        db, {code("9001", "PRIMEIRO"), code("9002", "SEGUNDO"), code("FAIL", "TERCEIRO")},
        &errorText));
    QVERIFY2(errorText.contains("recusado"), qPrintable(errorText));
    QCOMPARE(catalogue(db), standard);

    // An update that the database refuses leaves the row as it was; so does one of a row
    // that is gone.
    EventCode renamed = EventCodeRepository::list(db).first();
    const QString first = renamed.codigo();
    renamed[EventCode::CodigoEvento] = "FAIL";
    QVERIFY(!EventCodeRepository::update(db, first, renamed, &errorText));
    QVERIFY(!EventCodeRepository::update(db, "X000", code("X000", "NADA"), &errorText));
    QVERIFY2(errorText.contains("X000"), qPrintable(errorText));
    QCOMPARE(catalogue(db), standard);

    // The filling itself is all or nothing: a refused row leaves the catalogue empty, not
    // half filled.
    exec(s.db(), "delete from EVENTOS_PADRAO");
    exec(s.db(), "insert into EVENTOS_PADRAO (CODIGO_EVENTO) values ('3999')");
    exec(s.db(), "insert into EVENTOS_PADRAO (CODIGO_EVENTO) values ('1602')");
    QVERIFY(!StandardCatalogue::fill(db, &errorText));
    QCOMPARE(catalogue(db), QStringList({"1602||||", "3999||||"}));
    exec(s.db(), "delete from EVENTOS_PADRAO where CODIGO_EVENTO = '1602'");
    QVERIFY2(StandardCatalogue::fill(db, &errorText), qPrintable(errorText));
    QCOMPARE(catalogue(db), QStringList(standard) << "3999||||");
}

QTEST_GUILESS_MAIN(TestStandardCatalogue)
#include "test_standardcatalogue.moc"
