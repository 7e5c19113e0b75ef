#include "support/TestSupport.h"

#include "core/events/AccountRepository.h"
#include "core/events/EventRepository.h"
#include "core/store/SqlListModel.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kInicio(QDate(2026, 3, 9), QTime(8, 30, 0));

QString hora(int segundos) {
    return QTime(8, 30, 0).addSecs(segundos).toString(QStringLiteral("HH:mm:ss"));
}

// How far the oldest transaction still active lags behind the next one to start: record
// versions newer than the oldest active cannot be collected.
struct Header {
    qint64 oldestActive = 0;
    qint64 next = 0;
};

Header header(QSqlDatabase db) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(
            QStringLiteral("select MON$OLDEST_ACTIVE, MON$NEXT_TRANSACTION from MON$DATABASE")) ||
        !q.next())
        qFatal("header: %s", qPrintable(q.lastError().text()));
    return {q.value(0).toLongLong(), q.value(1).toLongLong()};
}

} // namespace

// The lists the console keeps on screen over its tables.
class TestSqlListModel : public QObject {
    Q_OBJECT
private slots:
    void shownListsLetOldVersionsBeCollected();
    void readsAtMostItsLimitNewestFirst();
    void failedSelectLeavesAnEmptyListWithTheError();
};

void TestSqlListModel::shownListsLetOldVersionsBeCollected() {
    Station s(kInicio);
    s.addAccount("001234", "JOSE");
    s.addAccount("005678", "MARIA");
    s.addCode("1401", "abertura", 0, 1, 2);
    s.addCode("1130", "roubo", 2, 0, 4);
    QCOMPARE(s.record(eventLine("1130", hora(0))).status, RecordResult::Status::Stored);
    QCOMPARE(s.record(eventLine("1401", hora(1), "5678")).status, RecordResult::Status::Stored);
    exec(s.db(), "update CLIENTES set DESARMADOS = 1 where CONTA = '005678'");

    SqlListModel recebidos(EventRepository::receivedListSql(),
                           {{"CONTA", {}}, {"CODIGO_ALARME", {}}, {"DATA", {}, true}});
    SqlListModel pendentes(EventRepository::pendingListSql(), {{"CODIGO_ALARME", {}}});
    SqlListModel desarmados(AccountRepository::disarmedListSql(), {{"CONTA", {}}, {"NOME", {}}});
    recebidos.reopen(s.db());
    pendentes.reopen(s.db());
    desarmados.reopen(s.db());
    QVERIFY(!recebidos.lastError().isValid());
    const Header antes = header(s.db());

    // Every event changes its account's row in CLIENTES while the lists are only shown.
    for (int i = 0; i < 80; ++i)
        QCOMPARE(s.record(eventLine(i % 2 ? "1401" : "1130", hora(10 + i), i % 3 ? "1234" : "5678"))
                     .status,
                 RecordResult::Status::Stored);
    const Header depois = header(s.db());
    qInfo("oldest active %lld, next %lld before; %lld, %lld after 80 recordings",
          antes.oldestActive, antes.next, depois.oldestActive, depois.next);
    QVERIFY(depois.next > antes.next + 80);
    QVERIFY2(
        depois.next - depois.oldestActive < 30,
        qPrintable(QString("oldest active %1, next %2").arg(depois.oldestActive).arg(depois.next)));

    // What the lists read is still there to be shown, as it was when read.
    QCOMPARE(recebidos.rowCount(), 1);
    QCOMPARE(recebidos.index(0, 0).data().toString(), QString("005678"));
    QCOMPARE(recebidos.index(0, 1).data().toString(), QString("1401"));
    QCOMPARE(recebidos.index(0, 2).data().toString(), QString("09/03/2026 08:30:01"));
    QCOMPARE(recebidos.value(0, "CLIENTE").toString(), QString("MARIA")); // a field not shown
    QCOMPARE(pendentes.rowCount(), 1);
    QCOMPARE(pendentes.index(0, 0).data().toString(), QString("1130"));
    QCOMPARE(desarmados.rowCount(), 1);
    QCOMPARE(desarmados.index(0, 1).data().toString(), QString("MARIA"));

    // Reopening reads the rows as they are now, again without holding on.
    recebidos.reopen(s.db());
    pendentes.reopen(s.db());
    QCOMPARE(recebidos.rowCount(), 41);
    QCOMPARE(recebidos.value(0, "DATA").toDateTime().time(), QTime(8, 31, 29));
    QCOMPARE(pendentes.rowCount(), 41);
    for (int i = 0; i < 10; ++i)
        s.record(eventLine("1401", hora(100 + i)));
    const Header fim = header(s.db());
    QVERIFY2(fim.next - fim.oldestActive < 30,
             qPrintable(QString("oldest active %1, next %2").arg(fim.oldestActive).arg(fim.next)));
}

void TestSqlListModel::readsAtMostItsLimitNewestFirst() {
    Station s(kInicio);
    s.addAccount("001234", "JOSE");
    s.addCode("1401", "abertura", 0, 1, 2);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(s.record(eventLine("1401", hora(i * 60))).status, RecordResult::Status::Stored);

    SqlListModel curta(EventRepository::receivedListSql(), {{"DATA", {}, true}}, 5);
    curta.reopen(s.db());
    QCOMPARE(curta.rowCount(), 5);
    QCOMPARE(curta.columnCount(), 1);
    QVERIFY(!curta.canFetchMore());
    QStringList datas;
    for (int r = 0; r < curta.rowCount(); ++r)
        datas << curta.index(r, 0).data().toString();
    QCOMPARE(datas, QStringList({"09/03/2026 08:37:00", "09/03/2026 08:36:00", "09/03/2026 08:35:00",
                                 "09/03/2026 08:34:00", "09/03/2026 08:33:00"}));
    QVERIFY(!curta.index(5, 0).isValid());
    QVERIFY(!curta.value(5, "DATA").isValid());

    SqlListModel toda(EventRepository::receivedListSql(), {{"DATA", "Quando", true}});
    toda.reopen(s.db());
    QCOMPARE(toda.rowCount(), 8);
    QCOMPARE(toda.headerData(0, Qt::Horizontal).toString(), QString("Quando"));
    QCOMPARE(toda.index(7, 0).data().toString(), QString("09/03/2026 08:30:00"));

    toda.clear();
    QCOMPARE(toda.rowCount(), 0);
    QCOMPARE(toda.headerData(0, Qt::Horizontal).toString(), QString("Quando"));
}

void TestSqlListModel::failedSelectLeavesAnEmptyListWithTheError() {
    Station s(kInicio);
    s.addAccount("001234", "JOSE");
    SqlListModel lista("Select * from CLIENTES order by CONTA", {{"CONTA", {}}, {"NADA", {}}});
    lista.reopen(s.db());
    QCOMPARE(lista.rowCount(), 1);
    QVERIFY(!lista.lastError().isValid());
    QCOMPARE(lista.index(0, 0).data().toString(), QString("001234"));
    QVERIFY(!lista.index(0, 1).data().isValid()); // a field the select does not return

    SqlListModel errada("Select * from NAO_EXISTE", {{"CONTA", {}}});
    errada.reopen(s.db());
    QVERIFY(errada.lastError().isValid());
    QCOMPARE(errada.rowCount(), 0);
    // The failed statement left nothing open behind it either.
    for (int i = 0; i < 20; ++i)
        exec(s.db(), "update CLIENTES set NOME = 'JOSE' where CONTA = '001234'");
    const Header h = header(s.db());
    QVERIFY2(h.next - h.oldestActive < 30,
             qPrintable(QString("oldest active %1, next %2").arg(h.oldestActive).arg(h.next)));
}

QTEST_GUILESS_MAIN(TestSqlListModel)
#include "test_sqllistmodel.moc"
