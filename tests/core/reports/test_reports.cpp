// Report statements, the events they select, the paging of the preview and the text file.

#include "core/reports/ReportQuery.h"
#include "core/reports/ReportRepository.h"
#include "core/reports/ReportSource.h"
#include "core/reports/ReportText.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

void addEvent(Station &s, const QString &conta, const QString &tipo, const QDateTime &data,
              const QString &descricao = QStringLiteral("ALARME ROUBO SALA"),
              const QString &cliente = QStringLiteral("MERCADO SOL"),
              const QString &intervencao = QString(), const QString &detalhes = QString(),
              const QDateTime &dataIntervencao = QDateTime()) {
    exec(s.db(),
         "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, DESCRICAO, TIPO, DATA, "
         "INTERVENCAO, DETALHES, DATA_INTERVENCAO, TRATADO) values (:c, :cl, '1130', '003', :d, "
         ":t, :dt, :i, :de, :di, 1)",
         {{":c", conta},
          {":cl", cliente},
          {":d", descricao},
          {":t", tipo},
          {":dt", data},
          {":i", intervencao.isNull() ? QVariant(QMetaType(QMetaType::QString)) : intervencao},
          {":de", detalhes.isNull() ? QVariant(QMetaType(QMetaType::QString)) : detalhes},
          {":di", dataIntervencao.isValid() ? QVariant(dataIntervencao)
                                            : QVariant(QMetaType(QMetaType::QDateTime))}});
}

QList<int> sequences(QSqlDatabase db, const ReportStatement &st) {
    QList<int> out;
    QString error;
    if (!ReportRepository::forEach(
            db, st,
            [&](const ReportRow &r) {
                out << r.sequencia;
                return true;
            },
            &error))
        qWarning("%s", qPrintable(error));
    return out;
}

QDateTime at(int d, int h, int m = 0) {
    return QDateTime(QDate(2026, 3, d), QTime(h, m));
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT
private slots:
    void statements();
    void selectedEvents();
    void pagesByKey();
    void textFile();
};

void TestReports::statements() {
    ReportSelection s;
    QCOMPARE(BuildReportQuery(s).lines,
             QStringList({"Select * from EVENTOS", "Order By DATA Desc"}));
    QVERIFY(BuildReportQuery(s).params.isEmpty());

    s.tipo = "ALARME";
    s.allDays = false;
    s.inicial = QDate(2026, 3, 1);
    s.final = QDate(2026, 3, 5);
    s.descending = false;
    const ReportStatement a = BuildReportQuery(s);
    QCOMPARE(a.lines, QStringList({"Select * from EVENTOS", "where ", "TIPO = :tipo", "and ",
                                   "( (DATA >= :data_inicial) And (DATA < :data_final) ) ",
                                   "Order By DATA Asc"}));
    QCOMPARE(a.params.value(":tipo").toString(), QString("ALARME"));
    QCOMPARE(a.params.value(":data_inicial").toDateTime(), at(1, 0));
    QCOMPARE(a.params.value(":data_final").toDateTime(), at(6, 0));

    // Typed text is a parameter, never part of the statement.
    s.conta = "000123";
    s.tipo = "X' or 1=1 --";
    s.allDays = true;
    s.descending = true;
    const ReportStatement b = BuildReportQuery(s);
    QCOMPARE(b.lines, QStringList({"Select * from EVENTOS", "where CONTA =:conta", "and ",
                                   "TIPO = :tipo", "Order By DATA Desc"}));
    QCOMPARE(b.params.value(":tipo").toString(), s.tipo);

    s.allDays = false;
    QCOMPARE(
        buildMailReportQuery(s, "000777").lines,
        QStringList({"Select * from EVENTOS", "Where CONTA = :conta", "and ", "TIPO =:tipo", "and ",
                     "(DATA>=:data_inicial and DATA<:data_final)", "Order By DATA Desc"}));
    QCOMPARE(buildMailReportQuery(s, "000777").params.value(":conta").toString(),
             QString("000777"));
    s.tipo = "Todos";
    s.allDays = true;
    QCOMPARE(buildMailReportQuery(s, "000777").lines,
             QStringList({"Select * from EVENTOS", "Where CONTA = :conta", "Order By DATA Desc"}));
}

// Both reports take whole days: the first day from 00:00:00, the last to 23:59:59.999, not
// the day after's 00:00:00; the printed and the mailed report select the same events.
void TestReports::selectedEvents() {
    Station s;
    addEvent(s, "000001", "ALARME", at(2, 23, 59).addSecs(59)); // 1: the day before, 23:59:59
    addEvent(s, "000001", "ALARME", at(3, 0));                  // 2: start date at 00:00:00
    addEvent(s, "000001", "ARMADO", at(3, 10));                 // 3: other kind
    addEvent(s, "000002", "ALARME", at(4, 12));                 // 4: other account
    addEvent(s, "000001", "ALARME", at(4, 18));                 // 5
    addEvent(s, "000001", "ALARME", at(5, 0));                  // 6: the day after at 00:00:00
    addEvent(s, "000001", "ALARME", at(5, 0, 1));               // 7: after
    addEvent(s, "000001", "ALARME", at(4, 23, 59).addSecs(59)); // 8: end date at 23:59:59
    addEvent(s, "000001", "ALARME", at(4, 23, 59).addMSecs(59999)); // 9: 23:59:59.999
    ReportSelection sel;
    sel.conta = "000001";
    sel.tipo = "ALARME";
    sel.allDays = false;
    sel.inicial = QDate(2026, 3, 3);
    sel.final = QDate(2026, 3, 4);
    QCOMPARE(sequences(s.db(), BuildReportQuery(sel)), QList<int>({9, 8, 5, 2}));
    QCOMPARE(sequences(s.db(), buildMailReportQuery(sel, "000001")), QList<int>({9, 8, 5, 2}));
    sel.descending = false;
    QCOMPARE(sequences(s.db(), buildMailReportQuery(sel, "000001")), QList<int>({2, 5, 8, 9}));
    sel.conta = "Todas";
    QCOMPARE(sequences(s.db(), BuildReportQuery(sel)), QList<int>({2, 4, 5, 8, 9}));
    sel.tipo = "Todos";
    QCOMPARE(ReportRepository::count(s.db(), BuildReportQuery(sel)).value(), qint64(6));
    // A month's report holds none of the next month's first second.
    sel.inicial = QDate(2026, 2, 1);
    sel.final = QDate(2026, 2, 28);
    addEvent(s, "000001", "ALARME", at(1, 0)); // 10: 01/03 00:00:00
    QCOMPARE(sequences(s.db(), BuildReportQuery(sel)), QList<int>());
    sel.final = QDate(2026, 3, 1);
    QCOMPARE(sequences(s.db(), BuildReportQuery(sel)), QList<int>({10}));
    // An end before the start selects nothing.
    sel.inicial = QDate(2026, 3, 3);
    sel.final = QDate(2026, 3, 1);
    QCOMPARE(sequences(s.db(), BuildReportQuery(sel)), QList<int>());
    // The mail's look-up of the account, and the account list in the database's order.
    s.addAccount("000002", "PADARIA LUA");
    s.addAccount("000001", "MERCADO SOL");
    exec(s.db(), "update CLIENTES set EMAIL = 'sol@example.com' where CONTA = '000001'");
    const AccountContact c = ReportRepository::contact(s.db(), "000001");
    QVERIFY(c.found);
    QCOMPARE(c.email, QString("sol@example.com"));
    QCOMPARE(c.nome, QString("MERCADO SOL"));
    QVERIFY(!ReportRepository::contact(s.db(), "999999").found);
    QCOMPARE(ReportRepository::accounts(s.db()).value(), QStringList({"000002", "000001"}));
    s.addAccount("000003", "BRANCO");
    exec(s.db(), "update CLIENTES set EMAIL = '   ' where CONTA = '000003'");
    QCOMPARE(ReportRepository::accountsWithEmail(s.db()).value(), QStringList({"000001"}));
}

// Pages are read by (DATA, SEQUENCIA): events of one instant are neither lost nor repeated
// at a page's edge, whether the pages are read in order or the last is asked for first.
void TestReports::pagesByKey() {
    Station s;
    const ReportLayout &l = ReportLayout::summaryLayout();
    const int perPage = l.rowsPerPage();
    QCOMPARE(perPage, 51);
    const int total = perPage * 3 + 7;
    for (int i = 0; i < total; ++i) // three events per instant
        addEvent(s, QString("%1").arg(i % 5, 6, 10, QChar('0')), "ALARME", at(3, 8).addSecs(i / 3));
    QCOMPARE(l.pageCount(total), 4);
    QCOMPARE(l.pageCount(0), 1);
    QCOMPARE(l.pageCount(perPage), 2);     // the summary does not fit after 51 events
    QCOMPARE(l.pageCount(perPage - 1), 2); // 19.8 + 50 × 5.0 + 7.7 > 277
    QCOMPARE(l.pageCount(perPage - 2), 1);
    QCOMPARE(ReportLayout::completeLayout().rowsPerPage(), 24);

    // A source closed while its thread still reads answers nothing, and holds nobody up.
    {
        bool answered = false;
        auto *gone = new ReportSource(s.core->database());
        QObject::connect(gone, &ReportSource::pageReady, [&] { answered = true; });
        gone->open(BuildReportQuery(ReportSelection()), l);
        QElapsedTimer t;
        t.start();
        delete gone;
        QVERIFY(t.elapsed() < 1000);
        QTest::qWait(300);
        QVERIFY(!answered);
    }
    // Both orders, with no date range and with one (whose own limit then bounds each page).
    for (int variant = 0; variant < 4; ++variant) {
        const bool descending = variant & 1;
        ReportSelection sel;
        sel.descending = descending;
        sel.allDays = !(variant & 2);
        sel.inicial = sel.final = QDate(2026, 3, 3);
        ReportSource src(s.core->database());
        QSignalSpy opened(&src, &ReportSource::opened);
        QSignalSpy pages(&src, &ReportSource::pageReady);
        src.open(BuildReportQuery(sel), l);
        QVERIFY(waitFor([&] { return pages.size() == 1; }));
        QVERIFY(opened.first().at(0).toBool());
        QCOMPARE(src.rowCount(), qint64(total));
        QCOMPARE(src.pageCount(), 4);
        src.requestPage(3); // the last: read from the other end
        src.requestPage(2); // a jump: the keys of page 1 are read to find where 2 starts
        src.requestPage(1);
        src.requestPage(4); // past the end: nothing
        QVERIFY(waitFor([&] { return pages.size() == 5; }));
        QCOMPARE(pages.at(1).at(0).toInt(), 3);
        QVERIFY(pages.at(4).at(1).value<QList<ReportRow>>().isEmpty());
        QMap<int, QList<int>> byPage;
        for (const QList<QVariant> &answer : pages.mid(0, 4)) {
            const auto rows = answer.at(1).value<QList<ReportRow>>();
            const int p = answer.at(0).toInt();
            QCOMPARE(rows.size(), p == 3 ? 7 : perPage);
            for (const ReportRow &r : rows)
                byPage[p] << r.sequencia;
        }
        const QList<int> order = byPage[0] + byPage[1] + byPage[2] + byPage[3];
        QList<int> expected;
        for (int i = 0; i < total; ++i)
            expected << (descending ? total - i : i + 1);
        QCOMPARE(order, expected);
    }
}

// The text file of a known report, checked by hand against the grid (see the expected file's
// columns in the test's README lines below), then its pages and its replacement.
void TestReports::textFile() {
    Station s;
    addEvent(s, "000123", "ALARME", at(3, 8, 5),
             "ALARME ROUBO SALA DE ESTAR E COZINHA DO SEGUNDO ANDAR FUNDOS", "MERCADO SOL",
             "POLICIA ACIONADA", "Cliente avisado pelo telefone", at(3, 8, 20));
    addEvent(s, "000123", "RESTAURAÇÃO", at(3, 9, 0), "RESTAURAÇÃO ZONA 3");
    ReportSelection sel;
    sel.conta = "000123";
    sel.complete = true;
    sel.descending = false;
    QTemporaryDir dir;
    const QString path = dir.filePath("Relatorio000123.TXT");
    {
        QFile old(path); // a longer file of an earlier report is replaced, not overwritten
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(20000, 'x'));
    }
    const QDateTime printed(QDate(2026, 3, 9), QTime(14, 30, 15));
    const ReportPageInfo info{reportTitle("000123", "MERCADO SOL"), "CENTRAL VIGIA 24H", printed};
    QString error;
    QVERIFY2(ExportReportText(s.db(), BuildReportQuery(sel), ReportLayout::completeLayout(), info,
                              path, &error),
             qPrintable(error));
    QFile got(path), want(QFINDTESTDATA("relatorio_completo.txt"));
    QVERIFY(got.open(QIODevice::ReadOnly) && want.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), want.readAll());

    // 60 events: 51 on the first page, 9 and the summary on the second, each under the
    // page header and above the page footer with its number; no empty lines.
    for (int i = 0; i < 58; ++i)
        addEvent(s, "000123", "ALARME", at(4, 10).addSecs(i * 60));
    sel.complete = false;
    QVERIFY(ExportReportText(s.db(), BuildReportQuery(sel), ReportLayout::summaryLayout(), info,
                             path, &error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 2 * 3 + 60 + 1 + 1); // the split leaves an empty tail
    QVERIFY(lines.at(0).contains("RELATÓRIO DE EVENTOS DO CLIENTE - MERCADO SOL"));
    QVERIFY(lines.at(53).startsWith("     CENTRAL VIGIA 24H "));
    QVERIFY(lines.at(53).endsWith(" Página 1 de 2\r"));
    QVERIFY(lines.at(54).contains("RELATÓRIO DE EVENTOS DO CLIENTE - MERCADO SOL"));
    QVERIFY(lines.at(55).startsWith("      CONTA    EVENTO"));
    // The printing time, labelled, ends where it always ended.
    QCOMPARE(lines.at(65), QByteArray(87, ' ') + "Impresso em: 09/03/2026 14:30:15\r");
    QVERIFY(lines.at(66).endsWith(" Página 2 de 2\r"));
    QCOMPARE(lines.at(66).indexOf("Página"), lines.at(53).indexOf("Página"));
    for (int i = 0; i < lines.size() - 1; ++i)
        QVERIFY(lines.at(i).endsWith('\r') && lines.at(i).size() > 1);
    // A file that cannot be written is reported, and nothing is half written.
    QVERIFY(!ExportReportText(s.db(), BuildReportQuery(sel), ReportLayout::summaryLayout(), info,
                              dir.filePath("nao/existe.TXT"), &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestReports)
#include "test_reports.moc"
