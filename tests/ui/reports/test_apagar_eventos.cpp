#include "support/TestSupport.h"

#include "ui/reports/Apagar_Eventos.h"
#include "core/reports/EventPurger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlQuery>
#include <QStringListModel>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;

namespace {

const QDateTime kNow(QDate(2026, 3, 9), QTime(10, 0, 0));

QDateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0) {
    return QDateTime(QDate(y, m, d), QTime(h, min, s));
}

struct Purge : Station {
    QWidget main;
    Form_Apagar_eventos f{core->common(), &main};

    Purge()
        : Station(kNow) {
        addAccount("000001", "PADARIA");
        addAccount("000002", "FARMACIA");
    }
    template <typename T> T *child(const char *name) {
        T *w = f.findChild<T *>(QLatin1String(name));
        if (!w) qFatal("no %s", name);
        return w;
    }
    void add(const QString &conta, const QString &tipo, int particao, const QDateTime &data,
             int tratado = 1) {
        exec(db(),
             "insert into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, TIPO, NUMERO_PARTICAO, DATA, "
             "TRATADO) values (:c, 'CLIENTE', '1130', :t, :p, :d, :tr)",
             {{":c", conta}, {":t", tipo}, {":p", particao}, {":d", data}, {":tr", tratado}});
    }
    // Every event left, as "conta tipo particao yyyy-MM-dd HH:mm:ss", in time order.
    QStringList left() {
        QStringList out;
        QSqlQuery q(db());
        q.exec("select CONTA, TIPO, NUMERO_PARTICAO, DATA from EVENTOS order by DATA, CONTA, TIPO");
        while (q.next())
            out << QString("%1 %2 %3 %4")
                       .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toDateTime().toString("yyyy-MM-dd HH:mm:ss"));
        return out;
    }
    void choose(const QString &conta, const QString &tipo, QDate from, QDate to, int particao) {
        child<QComboBox>("Lista_Clientes")->setCurrentText(conta);
        child<QComboBox>("Tipos_evento")->setCurrentText(tipo);
        child<QDateEdit>("Data_inicial")->setDate(from);
        child<QDateEdit>("Data_final")->setDate(to);
        child<QCheckBox>("Check_Particao")->setChecked(particao < 0);
        if (particao >= 0) child<QSpinBox>("Spin_Particao")->setValue(particao);
    }
    // "Apagar", then the end of the purge (it runs on a thread of its own).
    bool apagar() {
        QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
        return waitFor([&] { return !f.purger().isRunning(); }, 20000);
    }
    QString status() { return child<QLabel>("statusLabel")->text(); }
};

} // namespace

class TestApagarEventos : public QObject {
    Q_OBJECT
private slots:
    void choicesDecideWhatGoes();
    void aFailedPurgeDeletesNothingWhileReceptionGoesOn();
    void untreatedEventsGoOnlyWhenTheOperatorSays();
};

void TestApagarEventos::choicesDecideWhatGoes() {
    Purge s;
    // Around the edges of 09/03/2026 and of a year before it.
    s.add("000001", "ALARME", 0, at(2026, 3, 9, 0, 0, 0));
    s.add("000001", "ALARME", 0, at(2026, 3, 9, 0, 0, 1));
    s.add("000001", "ALARME", 1, at(2026, 3, 9, 0, 0, 0));
    s.add("000002", "ARMADO", 0, at(2025, 3, 9, 0, 0, 0));
    s.add("000002", "ARMADO", 0, at(2025, 3, 8, 23, 59, 59));
    // Each account, kind and partition on the days of the filter test.
    for (int day = 2; day <= 3; ++day)
        for (const QString conta : {"000001", "000002"})
            for (const QString tipo : {"ALARME", "RESTAURAÇÃO"})
                for (int p = 1; p <= 2; ++p) s.add(conta, tipo, p, at(2026, 3, day, 12));
    const QStringList all = s.left();
    QCOMPARE(all.size(), 21);

    s.f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.f));
    QCOMPARE(s.f.windowTitle(), QString("Apagar eventos recebidos"));
    auto *contas = s.child<QComboBox>("Lista_Clientes");
    QCOMPARE(static_cast<QStringListModel *>(contas->model())->stringList(),
             QStringList({"Todas", "000001", "000002"}));
    QCOMPARE(contas->currentText(), QString());
    auto *tipos = s.child<QComboBox>("Tipos_evento");
    QStringList kinds;
    for (int i = 0; i < tipos->count(); ++i) kinds << tipos->itemText(i);
    QCOMPARE(kinds, QStringList({"Todos", "ARMADO", "DESARMADO", "ALARME", "RESTAURAÇÃO",
                                 "REGISTRO", "PERIÓDICO", "FALHAS"}));
    QCOMPARE(tipos->currentText(), QString("Todos"));
    QCOMPARE(s.child<QDateEdit>("Data_inicial")->date(), kNow.date());
    QCOMPARE(s.child<QDateEdit>("Data_final")->date(), kNow.date());
    QVERIFY(!s.child<QCheckBox>("Check_Particao")->isChecked());
    QCOMPARE(s.child<QSpinBox>("Spin_Particao")->value(), 0);
    QCOMPARE(s.child<QSpinBox>("Spin_Particao")->maximum(), 99);
    QCOMPARE(s.child<QPushButton>("Button2")->text(), QString("Fechar"));

    // The defaults delete nothing: no account is shown.
    QSignalSpy deleted(&s.f, &Form_Apagar_eventos::eventsDeleted);
    QVERIFY(s.apagar());
    QCOMPARE(s.left(), all);
    QCOMPARE(s.status(), QString("Eventos apagados: 0"));

    // One day, all accounts, partition 0: only what is stamped exactly 00:00 of that day.
    s.choose("Todas", "Todos", kNow.date(), kNow.date(), 0);
    QCOMPARE(EventPurgeRepository::statementLines(s.f.filter()),
             QStringList({"Delete  from eventos where", "(DATA>=:Data_inicial and DATA<=:Data_final)",
                          "and Numero_Particao=:Particao"}));
    QVERIFY(s.apagar());
    QStringList expected = all;
    QVERIFY(expected.removeOne(QString("000001 ALARME 0 2026-03-09 00:00:00")));
    QCOMPARE(s.left(), expected);
    QCOMPARE(deleted.size(), 2);

    // Account, kind and partition together, the whole of 02/03 and 03/03.
    s.choose("000002", "RESTAURAÇÃO", QDate(2026, 3, 2), QDate(2026, 3, 4), 2);
    QCOMPARE(EventPurgeRepository::statementLines(s.f.filter()),
             QStringList({"Delete  from eventos where", "(DATA>=:Data_inicial and DATA<=:Data_final)",
                          "and conta=:conta", "and Tipo=:Tipo", "and Numero_Particao=:Particao"}));
    QCOMPARE(EventPurgeRepository::parameters(s.f.filter()),
             QVariantList({at(2026, 3, 2), at(2026, 3, 4), "000002", "RESTAURAÇÃO", 2}));
    QVERIFY(s.apagar());
    QCOMPARE(expected.removeAll(QString("000002 RESTAURAÇÃO 2 2026-03-02 12:00:00")), 1);
    QCOMPARE(expected.removeAll(QString("000002 RESTAURAÇÃO 2 2026-03-03 12:00:00")), 1);
    QCOMPARE(s.left(), expected);
    QCOMPARE(s.status(), QString("Eventos apagados: 2"));

    // Every account, kind and partition over a year: all but what is later on the last day
    // and what is before the first.
    s.choose("Todas", "Todos", QDate(2025, 3, 9), kNow.date(), -1);
    QVERIFY(!s.child<QSpinBox>("Spin_Particao")->isEnabled());
    QVERIFY(s.apagar());
    QCOMPARE(s.left(), QStringList({"000002 ARMADO 0 2025-03-08 23:59:59",
                                    "000001 ALARME 0 2026-03-09 00:00:01"}));
    // Pressed again, the same choices find nothing more.
    QVERIFY(s.apagar());
    QCOMPARE(s.left().size(), 2);
    QCOMPARE(s.status(), QString("Eventos apagados: 0"));
    QVERIFY(s.prompt.shown.isEmpty());

    // Opening the window again empties the account and puts today back, and the result of
    // the last purge goes; the rest stays.
    s.f.hide();
    s.clock.set(at(2026, 3, 10, 8));
    s.f.show();
    QCOMPARE(s.status(), QString());
    QCOMPARE(contas->currentText(), QString());
    QCOMPARE(s.child<QDateEdit>("Data_inicial")->date(), QDate(2026, 3, 10));
    QVERIFY(s.child<QCheckBox>("Check_Particao")->isChecked());
}

void TestApagarEventos::aFailedPurgeDeletesNothingWhileReceptionGoesOn() {
    Purge s;
    s.addCode("1130", "ALARME ROUBO", 2);
    exec(s.db(), "EXECUTE BLOCK AS DECLARE i INTEGER = 0; BEGIN WHILE (i < 3000) DO BEGIN "
                 "INSERT INTO EVENTOS (CONTA, TIPO, NUMERO_PARTICAO, DATA, TRATADO) VALUES "
                 "('000001', 'ALARME', 1, DATEADD(-:i MINUTE TO TIMESTAMP '2026-03-08 23:00'), 1); "
                 "i = i + 1; END END");
    s.f.show();
    s.choose("Todas", "Todos", QDate(2026, 1, 1), kNow.date(), -1);

    // Another transaction changed an event of the range and has not ended: the purge waits
    // for it, on its own thread.
    QSqlDatabase other = s.core->database().secondary();
    QVERIFY(other.transaction());
    exec(other, "update EVENTOS set DETALHES = 'em uso' where SEQUENCIA = "
                "(select min(SEQUENCIA) from EVENTOS)");
    QTest::mouseClick(s.child<QPushButton>("Button1"), Qt::LeftButton);
    QVERIFY(s.f.purger().isRunning());
    QVERIFY(!s.child<QPushButton>("Button1")->isEnabled());
    QVERIFY(!s.child<QComboBox>("Lista_Clientes")->isEnabled());
    QCOMPARE(s.status(), QString("Apagando eventos, aguarde..."));

    // An event arrives meanwhile: it is queued and recorded at once, the window's loop free.
    QTest::qWait(300);
    QVERIFY(s.f.purger().isRunning());
    QVERIFY(s.core->queueLine(eventLine("1130", "10:00:05")));
    QElapsedTimer t;
    t.start();
    tickAndSettle(*s.core);
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(s.core->eventQueue().size(), 0);
    QCOMPARE(scalar(s.db(), "select count(*) from EVENTOS where CONTA like '%1234'").toInt(), 1);
    QVERIFY(s.f.purger().isRunning());

    // The other transaction commits its change: the purge fails as a whole.
    QVERIFY(other.commit());
    QVERIFY(waitFor([&] { return !s.f.purger().isRunning(); }, 20000));
    QCOMPARE(s.eventCount(), 3001);
    QCOMPARE(s.prompt.shown.size(), 1);
    QVERIFY2(s.prompt.shown[0].text.startsWith(
                 "Houve um erro ao apagar os eventos. Nenhum evento foi apagado.\n\n"),
             qPrintable(s.prompt.shown[0].text));
    QVERIFY(s.prompt.shown[0].text.size() > 70); // with the database's reason
    QCOMPARE(s.prompt.shown[0].caption, QString("ERRO"));
    QCOMPARE(s.status(), QString("Nenhum evento foi apagado."));
    QVERIFY(s.child<QPushButton>("Button1")->isEnabled());
    QVERIFY(!s.child<QSpinBox>("Spin_Particao")->isEnabled()); // "Todas" is still ticked

    // Ending the console during a purge does not wait for it, and nothing is deleted.
    {
        auto purger = std::make_unique<EventPurger>(s.core->database());
        QVERIFY(other.transaction());
        exec(other, "update EVENTOS set DETALHES = 'de novo' where SEQUENCIA = "
                    "(select min(SEQUENCIA) from EVENTOS)");
        QVERIFY(purger->start(s.f.filter()));
        QVERIFY(!purger->start(s.f.filter())); // one at a time
        QTest::qWait(300);
        t.restart();
        purger.reset();
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(other.rollback());
        QCOMPARE(s.eventCount(), 3001);
    }

    // Tried again with nothing in its way, it deletes the range; the new event stays.
    QVERIFY(s.apagar());
    QCOMPARE(s.eventCount(), 1);
    QCOMPARE(s.status(), QString("Eventos apagados: 3000"));
}

// Events nobody treated go only when the operator says so, once told how many; an alarm that
// comes while he is asked is not among them.
void TestApagarEventos::untreatedEventsGoOnlyWhenTheOperatorSays() {
    Purge s;
    for (int i = 0; i < 28; ++i)
        s.add(i % 2 ? "000001" : "000002", "ALARME", 1, at(2026, 3, 2, 8, i), i < 12 ? 0 : 1);
    s.add("000001", "ALARME", 1, at(2026, 3, 5, 8), 0); // outside the range
    QCOMPARE(s.eventCount(), 29);
    s.f.show();
    s.choose("Todas", "Todos", QDate(2026, 3, 1), QDate(2026, 3, 4), -1);
    QSignalSpy deleted(&s.f, &Form_Apagar_eventos::eventsDeleted);

    s.prompt.answers = {false};
    QVERIFY(s.apagar());
    QCOMPARE(s.prompt.shown.size(), 1);
    QCOMPARE(s.prompt.shown[0].text,
             QString("Serão apagados 28 eventos, 12 deles pendentes (não tratados). "
                     "Deseja continuar?"));
    QCOMPARE(s.prompt.shown[0].caption, QString("Apagar eventos recebidos"));
    QCOMPARE(s.prompt.shown[0].icon, Prompt::Icon::Warning);
    QCOMPARE(s.eventCount(), 29);
    QCOMPARE(s.status(), QString("Nenhum evento foi apagado."));
    QVERIFY(s.child<QPushButton>("Button1")->isEnabled());
    QCOMPARE(deleted.size(), 0);

    // Yes, while an alarm of the range is recorded: the 28 go, the new one stays.
    s.prompt.answers = {true};
    s.prompt.onQuestion = [&](const QString &) {
        s.add("000002", "ALARME", 1, at(2026, 3, 3, 9), 0);
    };
    QVERIFY(s.apagar());
    QCOMPARE(s.prompt.shown.size(), 2);
    QCOMPARE(s.prompt.shown[1].text, s.prompt.shown[0].text);
    QCOMPARE(s.status(), QString("Eventos apagados: 28"));
    QCOMPARE(s.left(), QStringList({"000002 ALARME 1 2026-03-03 09:00:00",
                                    "000001 ALARME 1 2026-03-05 08:00:00"}));
    QCOMPARE(deleted.size(), 1);

    // The words follow the numbers.
    PurgeSurvey um;
    um.total = 1;
    um.pending = 1;
    QCOMPARE(EventPurgeRepository::pendingQuestion(um),
             QString("Será apagado 1 evento, pendente (não tratado). Deseja continuar?"));
    um.total = 5;
    QCOMPARE(
        EventPurgeRepository::pendingQuestion(um),
        QString("Serão apagados 5 eventos, 1 deles pendente (não tratado). Deseja continuar?"));
    um.pending = 0;
    QCOMPARE(EventPurgeRepository::pendingQuestion(um), QString());
}

QTEST_MAIN(TestApagarEventos)
#include "test_apagar_eventos.moc"
