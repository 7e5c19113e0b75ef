#include "support/TestSupport.h"

#include "core/registry/AccountRecordRepository.h"
#include "core/registry/ColumnLimits.h"
#include "core/registry/SubRecordModel.h"
#include "core/registry/WeeklySchedule.h"

#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace tulmo;
using namespace tulmo::test;
namespace Repo = tulmo::AccountRecordRepository;

namespace {

AccountRecord fullRecord(const QString &conta) {
    AccountRecord r;
    r.conta = conta;
    r.nome = "JOSE DA SILVA";
    r.telefone1 = "1133334444";
    r.telefone2 = "";
    r.celular = "11999998888";
    r.endereco1 = "RUA A, 1";
    r.endereco2 = "RUA B, 2";
    r.bairro1 = "CENTRO";
    r.cep1 = "01001000";
    r.cidade = "SAO PAULO";
    r.empresa = "PADARIA";
    r.animais = "CAO";
    r.senha = "senha1";
    r.equipamento = "PAINEL X";
    r.rg = "12345678X";
    r.cpf = "12345678901";
    r.cnpj = "12345678000199";
    r.ie = "111222333444";
    r.obs = "observação";
    r.foto1 = "C:\\Fotos\\frente.jpg";
    r.foto2 = "";
    r.email = "jose@exemplo.com.br";
    r.foneIdecall = "1133334444";
    r.eventoIdecall = "E130";
    r.tempoAtraso = "60";
    return r;
}

int count(Station &s, const QString &sql, const QVariantMap &p = {}) {
    return scalar(s.db(), sql, p).toInt();
}

// A trigger that refuses one row: a database error in the middle of the work.
void failOn(Station &s, const QString &table, const QString &condition) {
    exec(s.db(), "CREATE EXCEPTION E_FALHA_TESTE 'falha de teste'");
    exec(s.db(), QString("CREATE TRIGGER FALHA_TESTE FOR %1 BEFORE INSERT OR UPDATE POSITION 10 AS "
                         "BEGIN IF (%2) THEN EXCEPTION E_FALHA_TESTE; END")
                     .arg(table, condition));
}

} // namespace

class TestAccountRecordRepository : public QObject {
    Q_OBJECT
private slots:
    void numbering();
    void numberingOnTheTable();
    void insertAndFind();
    void updateWritesNullIntoBairro2AndCep2();
    void patterns();
    void scheduleWrittenAndReadBack();
    void scheduleWriteIsAllOrNothing();
    void subRecordsPostedRowByRow();
    void valuesTheDatabaseCannotHoldAreNamed();
    void unsavedAccountsLeaveNothingBehind();
};

void TestAccountRecordRepository::numbering() {
    QCOMPARE(Repo::padNumber("42"), QString("000042"));
    QCOMPARE(Repo::padNumber(" 42 "), QString("000042"));
    QCOMPARE(Repo::padNumber(""), QString("000000"));
    QCOMPARE(Repo::padNumber("1234567"), QString("234567"));
    QCOMPARE(Repo::numberAfter("0"), std::optional<QString>("000001"));
    QCOMPARE(Repo::numberAfter("000041"), std::optional<QString>("000042"));
    QCOMPARE(Repo::numberAfter("999999"), std::optional<QString>("000000"));
    QCOMPARE(Repo::numberAfter("ABC"), std::nullopt);
}

void TestAccountRecordRepository::numberingOnTheTable() {
    Station s;
    QCOMPARE(Repo::Buscar_Numero_Nova_Conta(s.db()), std::optional<QString>("000001"));
    s.addAccount("000041", "A");
    s.addAccount("000007", "B");
    QCOMPARE(Repo::Buscar_Numero_Nova_Conta(s.db()), std::optional<QString>("000042"));
    bool ok = false;
    QVERIFY(Repo::Verificar_Conta_Existente(s.db(), "000041", &ok));
    QVERIFY(ok);
    QVERIFY(!Repo::Verificar_Conta_Existente(s.db(), "000042", &ok));
    QVERIFY(ok);
    s.addAccount("999999", "C");
    QCOMPARE(Repo::Buscar_Numero_Nova_Conta(s.db()), std::optional<QString>("000000"));
    // Text order: a greatest number that is no number stops the numbering.
    s.addAccount("A00001", "D");
    QString why;
    QCOMPARE(Repo::Buscar_Numero_Nova_Conta(s.db(), &why), std::nullopt);
    QVERIFY(!why.isEmpty());
}

void TestAccountRecordRepository::insertAndFind() {
    Station s;
    const QDateTime now(QDate(2026, 3, 9), QTime(10, 30, 0));
    AccountRecord r = fullRecord("000001");
    r.tempoAtraso = "";
    QString why;
    QVERIFY2(Repo::insert(s.db(), r, now, &why), qPrintable(why));
    QCOMPARE(s.accountColumn("TEMPO_ATRASO", "000001").toInt(), 1440);
    QCOMPARE(s.accountColumn("DATA_CADASTRO", "000001").toDateTime(), now);
    QCOMPARE(s.accountColumn("ULTIMO_EVENTO", "000001").toDateTime(), now);
    QCOMPARE(s.accountColumn("EVENTO_ATRASADO", "000001").toInt(), 0);
    QVERIFY(s.accountColumn("BAIRRO2", "000001").isNull());
    QVERIFY(s.accountColumn("CEP2", "000001").isNull());
    // An empty field is an empty text, as typed.
    QVERIFY(!s.accountColumn("TELEFONE2", "000001").isNull());
    QCOMPARE(s.accountColumn("TELEFONE2", "000001").toString(), QString());
    QVERIFY(s.accountColumn("ID", "000001").toInt() > 0);

    bool ok = false;
    const std::optional<AccountRecord> back = Repo::find(s.db(), "000001", &ok);
    QVERIFY(ok && back);
    QCOMPARE(back->nome, r.nome);
    QCOMPARE(back->cep1, r.cep1);
    QCOMPARE(back->cnpj, r.cnpj);
    QCOMPARE(back->obs, QString("observação"));
    QCOMPARE(back->foto1, r.foto1);
    QCOMPARE(back->eventoIdecall, r.eventoIdecall);
    QCOMPARE(back->tempoAtraso, QString("1440"));
    QCOMPARE(back->dataCadastro.toDateTime(), now);
    QVERIFY(!Repo::find(s.db(), "000002", &ok) && ok);

    // Minutes beyond a SMALLINT: refused rather than stored wrapped round.
    AccountRecord big = fullRecord("000002");
    big.tempoAtraso = "40000";
    QVERIFY(!Repo::insert(s.db(), big, now, &why));
    QVERIFY(!s.accountColumn("CONTA", "000002").isValid());

    // The same number again: the key refuses it, reported.
    QVERIFY(!Repo::insert(s.db(), fullRecord("000001"), now, &why));
    QVERIFY(!why.isEmpty());
}

void TestAccountRecordRepository::updateWritesNullIntoBairro2AndCep2() {
    Station s;
    const QDateTime now(QDate(2026, 3, 9), QTime(10, 30, 0));
    QVERIFY(Repo::insert(s.db(), fullRecord("000010"), now));
    exec(s.db(), "update CLIENTES set BAIRRO2 = 'OUTRO', CEP2 = '99999999', DESARMADOS = 1 "
                 "where CONTA = '000010'");
    AccountRecord r = fullRecord("000010");
    r.nome = "MARIA";
    r.tempoAtraso = "90";
    QString why;
    QVERIFY2(Repo::update(s.db(), r, &why), qPrintable(why));
    QCOMPARE(s.accountColumn("NOME", "000010").toString(), QString("MARIA"));
    QCOMPARE(s.accountColumn("TEMPO_ATRASO", "000010").toInt(), 90);
    QVERIFY(s.accountColumn("BAIRRO2", "000010").isNull());
    QVERIFY(s.accountColumn("CEP2", "000010").isNull());
    // Only the form's columns: registration and supervision stay.
    QCOMPARE(s.accountColumn("DATA_CADASTRO", "000010").toDateTime(), now);
    QCOMPARE(s.accountColumn("DESARMADOS", "000010").toInt(), 1);

    // No default on alteration: an empty "Tempo Inativo" fails and changes nothing.
    r.nome = "OUTRO NOME";
    r.tempoAtraso = "";
    QVERIFY(!Repo::update(s.db(), r, &why));
    QCOMPARE(s.accountColumn("NOME", "000010").toString(), QString("MARIA"));
    // More minutes than the column holds are refused, never wrapped round to a negative.
    r.tempoAtraso = "99999";
    QVERIFY(!Repo::update(s.db(), r, &why));
    r.tempoAtraso = "32768";
    QVERIFY(!Repo::update(s.db(), r, &why));
    QCOMPARE(s.accountColumn("NOME", "000010").toString(), QString("MARIA"));
    // An account gone meanwhile is not taken for altered.
    r.conta = "000011";
    r.tempoAtraso = "10";
    QVERIFY(!Repo::update(s.db(), r, &why));
}

void TestAccountRecordRepository::patterns() {
    using P = WeeklySchedule::Pattern;
    const WeeklySchedule c = WeeklySchedule::pattern(P::Comercio);
    const WeeklySchedule i = WeeklySchedule::pattern(P::Industria);
    const WeeklySchedule r = WeeklySchedule::pattern(P::Residencia);
    for (int h = 0; h < 24; ++h) {
        QVERIFY(c.marked(0, h)); // Sunday always armed for commerce and industry
        QVERIFY(i.marked(0, h));
        for (int d = 1; d <= 5; ++d) {
            QCOMPARE(c.marked(d, h), !((h >= 8 && h <= 11) || (h >= 14 && h <= 17)));
            QCOMPARE(i.marked(d, h), !((h >= 7 && h <= 10) || (h >= 13 && h <= 16)));
        }
        QCOMPARE(c.marked(6, h), !(h >= 8 && h <= 11));
        QCOMPARE(i.marked(6, h), !(h >= 7 && h <= 10));
        for (int d = 0; d < 7; ++d)
            QCOMPARE(r.marked(d, h), h < 8);
    }
    QCOMPARE(c.markedCount(), 168 - 5 * 8 - 4);
    QCOMPARE(r.markedCount(), 7 * 8);
    QCOMPARE(WeeklySchedule::dayCode(0), QString("DOM"));
    QCOMPARE(WeeklySchedule::dayCode(6), QString("SAB"));
    QCOMPARE(WeeklySchedule::dayOf("QUA"), 3);
    QCOMPARE(WeeklySchedule::dayOf("XYZ"), -1);
}

void TestAccountRecordRepository::scheduleWrittenAndReadBack() {
    Station s;
    bool found = true;
    std::optional<WeeklySchedule> none = Repo::readSchedule(s.db(), "000005", &found);
    QVERIFY(none);
    QVERIFY(!found);

    WeeklySchedule w = WeeklySchedule::pattern(WeeklySchedule::Pattern::Industria);
    w.set(3, 22, false);
    QVERIFY(Repo::writeSchedule(s.db(), "000005", w));
    QVERIFY(Repo::writeSchedule(s.db(), "000005", w)); // replaces, never adds
    QCOMPARE(count(s, "select count(*) from QUADRO_HORARIOS where CONTA = '000005'"), 168);
    // Hour by hour, and within an hour from Sunday to Saturday.
    const QVariantList dias = column(s.db(), "select DIA from QUADRO_HORARIOS where CONTA = "
                                             "'000005' order by SEQUENCIA");
    const QVariantList horas = column(s.db(), "select HORA from QUADRO_HORARIOS where CONTA = "
                                              "'000005' order by SEQUENCIA");
    for (int k = 0; k < 168; ++k) {
        QCOMPARE(dias[k].toString().trimmed(), WeeklySchedule::dayCode(k % 7));
        QCOMPARE(horas[k].toTime(), QTime(k / 7, 0, 0));
    }
    std::optional<WeeklySchedule> back = Repo::readSchedule(s.db(), "000005", &found);
    QVERIFY(back && found);
    QVERIFY(*back == w);
}

void TestAccountRecordRepository::scheduleWriteIsAllOrNothing() {
    Station s;
    const WeeklySchedule before = WeeklySchedule::pattern(WeeklySchedule::Pattern::Comercio);
    QVERIFY(Repo::writeSchedule(s.db(), "000005", before));
    failOn(s, "QUADRO_HORARIOS",
           "NEW.CONTA = '000005' AND NEW.DIA = 'SEX' AND NEW.HORA = '13:00:00'");
    WeeklySchedule after;
    after.setAll(true);
    QString why;
    QVERIFY(!Repo::writeSchedule(s.db(), "000005", after, &why));
    QVERIFY(why.contains("falha de teste"));
    // Neither deleted nor half written.
    QCOMPARE(count(s, "select count(*) from QUADRO_HORARIOS where CONTA = '000005'"), 168);
    bool found = false;
    QVERIFY(*Repo::readSchedule(s.db(), "000005", &found) == before);
    // The connection is usable again.
    QVERIFY(Repo::writeSchedule(s.db(), "000006", before));
}

void TestAccountRecordRepository::subRecordsPostedRowByRow() {
    Station s;
    QSqlDatabase second = s.core->database().secondary();
    s.addName("ZONAS", "ZONA", "000001", 1, "SALA");
    s.addName("ZONAS", "ZONA", "000001", 2, "COZINHA");
    s.addName("ZONAS", "ZONA", "000002", 1, "OUTRA CONTA");
    SubRecordModel m(SubRecordModel::Kind::Zonas);
    QSignalSpy failures(&m, &SubRecordModel::postFailed);
    QCOMPARE(m.headerData(1, Qt::Horizontal).toString(), QString("NUMERO DA ZONA"));
    QCOMPARE(m.headerData(2, Qt::Horizontal).toString(), QString("DESCRIÇÃO DA ZONA"));
    QVERIFY(m.reopen(second, "000001"));
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(m.data(m.index(0, 0)).toString(), QString("000001"));
    QCOMPARE(m.data(m.index(1, 2)).toString(), QString("COZINHA"));
    QVERIFY(!m.isEditing());

    // A new row gets the account; posting it writes it.
    const int row = m.appendRow();
    QCOMPARE(row, 2);
    QVERIFY(m.setData(m.index(row, 1), "3"));
    QVERIFY(m.setData(m.index(row, 2), "QUARTO COM NOME LONGO DEMAIS"));
    QCOMPARE(m.data(m.index(row, 2)).toString(), QString("QUARTO COM NOME LONG")); // 20 chars
    QVERIFY(m.post());
    QCOMPARE(scalar(s.db(), "select DESCRICAO from ZONAS where CONTA = '000001' and ZONA = 3")
                 .toString(),
             QString("QUARTO COM NOME LONG"));

    // Letters never reach the key; a number beyond a SMALLINT stays as typed and its post is
    // refused with the field and the range, the row kept in edition for correction.
    QVERIFY(!m.setData(m.index(0, 1), "1a"));
    QSignalSpy refusals(&m, &SubRecordModel::postRefused);
    QVERIFY(m.setData(m.index(0, 1), "40000"));
    QCOMPARE(m.data(m.index(0, 1)).toString(), QString("40000"));
    QVERIFY(!m.post());
    QCOMPARE(refusals.size(), 1);
    QCOMPARE(refusals[0][0].toString(),
             QString("O campo \"NUMERO DA ZONA\" aceita números de 0 a 32767."));
    QCOMPARE(m.editingRow(), 0);
    QVERIFY(!m.setData(m.index(1, 2), "OUTRA")); // another row waits for this one
    QVERIFY(m.setData(m.index(0, 1), "32767"));
    QVERIFY(m.post());
    QCOMPARE(count(s, "select count(*) from ZONAS where CONTA = '000001' and ZONA = 32767"), 1);
    QVERIFY(m.setData(m.index(0, 1), "1"));
    QVERIFY(m.post());
    QCOMPARE(failures.size(), 0);

    // Altering a row and moving to another posts the first.
    QVERIFY(m.setData(m.index(1, 2), "COPA"));
    QCOMPARE(m.editingRow(), 1);
    QVERIFY(m.setData(m.index(0, 2), "SALA DE ESTAR"));
    QCOMPARE(scalar(s.db(), "select DESCRICAO from ZONAS where CONTA = '000001' and ZONA = 2")
                 .toString(),
             QString("COPA"));
    QVERIFY(m.post());

    // A new row posted without its key disappears and writes nothing.
    const int semChave = m.appendRow();
    QVERIFY(m.setData(m.index(semChave, 2), "SEM NUMERO"));
    QVERIFY(m.post());
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(count(s, "select count(*) from ZONAS where DESCRICAO = 'SEM NUMERO'"), 0);
    // A stored row whose key was cleared leaves the grid; its stored values stay.
    QVERIFY(m.setData(m.index(0, 1), ""));
    QVERIFY(m.post());
    QCOMPARE(m.rowCount(), 2);
    QCOMPARE(count(s, "select count(*) from ZONAS where CONTA = '000001' and ZONA = 1 and "
                      "DESCRICAO = 'SALA DE ESTAR'"),
             1);

    // Cancelling: a new row goes, an altered one gets its values back.
    QVERIFY(m.setData(m.index(0, 2), "ALTERADA"));
    m.cancel();
    QCOMPARE(m.data(m.index(0, 2)).toString(), QString("COPA"));
    m.appendRow();
    QCOMPARE(m.rowCount(), 3);
    m.cancel();
    QCOMPARE(m.rowCount(), 2);

    // A refused post stays in edition and says why.
    failOn(s, "ZONAS", "NEW.ZONA = 9");
    const int refused = m.appendRow();
    QVERIFY(m.setData(m.index(refused, 1), "9"));
    QVERIFY(!m.post());
    QCOMPARE(failures.size(), 1);
    QCOMPARE(m.editingRow(), refused);
    m.cancel();

    // An account without rows shows one blank row, which writes nothing unless typed into.
    QVERIFY(m.reopen(second, "000003"));
    QCOMPARE(m.rowCount(), 1);
    QVERIFY(m.post());
    QCOMPARE(m.rowCount(), 1);
    QCOMPARE(count(s, "select count(*) from ZONAS where CONTA = '000003'"), 0);
    QVERIFY(m.setData(m.index(0, 1), "1"));
    QCOMPARE(m.appendRow(), 1);
    QCOMPARE(count(s, "select count(*) from ZONAS where CONTA = '000003'"), 1);
    // The other account's row was never touched.
    QCOMPARE(count(s, "select count(*) from ZONAS where CONTA = '000002'"), 1);
}

// What the WIN1252 database cannot store is found before the statement and named, field by
// field; the engine's own refusals are told in Portuguese.
void TestAccountRecordRepository::valuesTheDatabaseCannotHoldAreNamed() {
    using namespace ColumnLimits;
    QCOMPARE(unstorableCharacter("AÇÃO € “Ñ” ß"), QString());
    QCOMPARE(unstorableCharacter("PADARIA 😀 X"), QString("😀"));
    QCOMPARE(unstorableCharacter("Ω"), QString("Ω"));
    QCOMPARE(unstorableCharacter(QString(QChar(0x81))), QString(QChar(0x81)));

    Station s;
    const QDateTime now(QDate(2026, 3, 9), QTime(10, 30, 0));
    AccountRecord r = fullRecord("000001");
    r.nome = "PADARIA 😀";
    QString why, reason;
    QVERIFY(!Repo::insert(s.db(), r, now, &why, &reason));
    QCOMPARE(reason, QString("O nome contém um caractere que o banco não aceita: 😀"));
    r.nome = "PADARIA";
    r.obs = "ok\nchave ☺";
    QVERIFY(!Repo::insert(s.db(), r, now, &why, &reason));
    QCOMPARE(reason, QString("A observação contém um caractere que o banco não aceita: ☺"));
    QCOMPARE(Repo::checkCharacters(r)->column, QString("OBS"));
    r.obs = "ok";
    r.tempoAtraso = "99999";
    QCOMPARE(Repo::checkTempoAtraso(r)->message,
             QString("O campo \"Tempo Inativo\" aceita números de 0 a 32767."));
    QVERIFY(!Repo::insert(s.db(), r, now, &why, &reason));
    QCOMPARE(reason, QString("O campo \"Tempo Inativo\" aceita números de 0 a 32767."));
    r.tempoAtraso = "32767";
    QVERIFY(!Repo::checkTempoAtraso(r));
    QVERIFY2(Repo::insert(s.db(), r, now, &why, &reason), qPrintable(why));
    QCOMPARE(s.accountColumn("TEMPO_ATRASO", "000001").toInt(), 32767);
    r.email = "jo😀@x.com";
    QVERIFY(!Repo::update(s.db(), r, &why, &reason));
    QCOMPARE(reason, QString("O e-mail contém um caractere que o banco não aceita: 😀"));
    // Not a field's fault: no reason of that kind.
    QVERIFY(!Repo::insert(s.db(), fullRecord("000001"), now, &why, &reason));
    QCOMPARE(reason, QString());

    // The engine's refusals, as the driver hands them over.
    QSqlQuery q(s.db());
    QVERIFY(q.prepare("insert into ZONAS (CONTA, ZONA, DESCRICAO) values (:c, 1, :d)"));
    q.bindValue(":c", "000001");
    q.bindValue(":d", "SALA 😀");
    QVERIFY(!q.exec());
    QCOMPARE(valueReason(q.lastError()),
             QString("Um dos campos contém um caractere que o banco não aceita."));
    q.bindValue(":c", "0000001");
    q.bindValue(":d", "SALA");
    QVERIFY(!q.exec());
    QCOMPARE(valueReason(q.lastError()),
             QString("Um dos textos é mais longo do que o campo aceita."));
    QVERIFY(!q.exec("select * from TABELA_QUE_NAO_EXISTE"));
    QCOMPARE(valueReason(q.lastError()), QString());

    // A description the grid cannot store: the post fails naming the field, nothing written.
    SubRecordModel m(SubRecordModel::Kind::Usuarios);
    QSignalSpy failures(&m, &SubRecordModel::postFailed);
    QVERIFY(m.reopen(s.core->database().secondary(), "000001"));
    QVERIFY(m.setData(m.index(0, 1), "7"));
    QVERIFY(m.setData(m.index(0, 2), "JOÃO 🔑"));
    QVERIFY(!m.post());
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0][1].toString(), QString("O campo \"DESCRIÇÃO DO USUARIO\" contém um "
                                                "caractere que o banco não aceita: 🔑"));
    QCOMPARE(m.editingRow(), 0);
    QCOMPARE(count(s, "select count(*) from USUARIOS"), 0);
}

// What a form typed for an account it never saved goes; an account that exists keeps all.
void TestAccountRecordRepository::unsavedAccountsLeaveNothingBehind() {
    Station s;
    s.addAccount("000001", "EXISTE");
    for (const QString conta : {"000001", "000002"}) {
        s.addName("ZONAS", "ZONA", conta, 1, "ZONA ÓRFÃ");
        s.addName("USUARIOS", "USUARIO", conta, 1, "JOSE");
        s.addName("PARTICOES", "PARTICAO", conta, 1, "LOJA");
        QVERIFY(Repo::writeSchedule(s.db(), conta, WeeklySchedule()));
    }
    QVERIFY(Repo::discardUnsaved(s.db(), "000001"));
    QVERIFY(Repo::discardUnsaved(s.db(), "000002"));
    for (const char *table : {"ZONAS", "USUARIOS", "PARTICOES", "QUADRO_HORARIOS"}) {
        const QString sql = QString("select count(*) from %1 where CONTA = :c").arg(table);
        QCOMPARE(count(s, sql, {{":c", "000002"}}), 0);
        QVERIFY(count(s, sql, {{":c", "000001"}}) > 0);
    }
}

QTEST_GUILESS_MAIN(TestAccountRecordRepository)
#include "test_accountrecordrepository.moc"
