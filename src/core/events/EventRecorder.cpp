#include "EventRecorder.h"

#include "common/Clock.h"
#include "common/Sound.h"
#include "common/TextCodec.h"
#include "reception/SlotWriter.h"
#include "store/Database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace tulmo {

namespace {

constexpr int kSmsLength = 257;

// Texts are cut to their column's width rather than failing the insert.
QString fit(const QString &s, int width) {
    return s.left(width);
}

// Columns by name, with the query's record taken once (each record() call describes every
// column of the statement again).
class Row {
public:
    explicit Row(const QSqlQuery &q)
        : m_q(q)
        , m_rec(q.record()) {}
    QVariant operator[](const char *name) const {
        const int i = m_rec.indexOf(QLatin1String(name));
        return i < 0 ? QVariant() : m_q.value(i);
    }

private:
    const QSqlQuery &m_q;
    QSqlRecord m_rec;
};

bool toSmallint(const QString &text, int *out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < -32768 || v > 32767) return false;
    *out = v;
    return true;
}

} // namespace

EventRecorder::EventRecorder(Database &banco, const Clock &clock, SoundOutput *sound,
                                 SlotWriter *slotWriter, QObject *parent)
    : QObject(parent)
    , m_banco(banco)
    , m_clock(clock)
    , m_sound(sound)
    , m_slots(slotWriter) {}

QString EventRecorder::tipoNome(const QString &t) {
    static const char *const names[] = {"DESARMADO",   "ARMADO",     "ALARME",
                                        "RESTAURAÇÃO", "EMERGENCIA", "PANICO",
                                        "PERIÓDICO",   "REGISTRO",   "FALHAS"};
    for (int i = 0; i <= 8; ++i)
        if (t == QString::number(i)) return QString::fromUtf8(names[i]);
    if (t == QLatin1String("10")) return QStringLiteral("INTERNO");
    return t;
}

QByteArray EventRecorder::comandoSms(const QString &celular, const QString &descricao,
                                       const QString &nomeParticao) {
    QByteArray cmd = toWindows1252(QStringLiteral("SMS:") + celular + QLatin1Char(',') + descricao +
                                   QLatin1Char(' ') + nomeParticao);
    if (cmd.size() < kSmsLength) cmd.append(QByteArray(kSmsLength - cmd.size(), '\0'));
    return cmd;
}

QString EventRecorder::diaSemana(const QDate &d) {
    static const char *const dias[] = {"DOM", "SEG", "TER", "QUA", "QUI", "SEX", "SAB"};
    return QString::fromLatin1(dias[d.dayOfWeek() % 7]); // Qt: Monday 1 … Sunday 7
}

RecordResult EventRecorder::failure(const QString &what, const QString &dbError) {
    RecordResult r;
    m_banco.principal().rollback(); // nothing of this line stays half done
    if (m_banco.ensureAlive() == Database::State::Alive) {
        // The connection works: this statement fails for this line, and would again.
        r.status = RecordResult::Status::Rejected;
        r.reason =
            QStringLiteral("erro do banco de dados ao %1: %2").arg(what, dbError.simplified());
    } else {
        r.status = RecordResult::Status::Retry;
        r.reason =
            QStringLiteral("banco de dados inacessível ao %1: %2").arg(what, dbError.simplified());
    }
    return r;
}

RecordResult EventRecorder::Grava_Evento_Banco_Dados(const QString &line) {
    RecordResult result;
    if (line.size() <= 10) return result;

    auto reject = [&](const QString &why) {
        m_banco.principal().rollback();
        result.status = RecordResult::Status::Rejected;
        result.reason = why;
        return result;
    };

    const auto parsed = eventline::parse(line);
    if (!parsed) return reject(QStringLiteral("linha de evento ilegível"));
    const DecodedEvent &ev = *parsed;
    if (ev.conta.size() > 6)
        return reject(QStringLiteral("conta com mais de 6 caracteres: \"%1\"").arg(ev.conta));
    QSqlDatabase db = m_banco.principal();
    if (!db.isOpen() && m_banco.ensureAlive() == Database::State::Unreachable) {
        result.status = RecordResult::Status::Retry;
        result.reason = QStringLiteral("banco de dados inacessível");
        return result;
    }
    db = m_banco.principal();
    // The look-ups, the account's columns and the event go in one transaction: either the
    // whole recording is committed or none of it, and a retry starts from a clean account.
    if (!db.transaction())
        return failure(QStringLiteral("iniciar a transação"), db.lastError().text());
    bool semComunicacao = false, desarmados = false, aguardandoArmar = false;

    // Account.
    QString nome, celular;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("Select * from CLIENTES where CONTA =:conta"));
        q.bindValue(QStringLiteral(":conta"), ev.conta);
        if (!q.exec()) return failure(QStringLiteral("ler a conta"), q.lastError().text());
        if (q.next()) {
            const Row row(q);
            nome = row["NOME"].toString();
            celular = row["CELULAR"].toString();
        }
    }
    const bool cadastrado = !nome.isEmpty();

    // Event code.
    QString descricaoCodigo, tipo, som;
    int registroAutomatico = 0, prioridade = 0, somContinuo = 0, envioSms = 0;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("Select * from EVENTOS_PADRAO where CODIGO_EVENTO =:codigo"));
        q.bindValue(QStringLiteral(":codigo"), ev.codigo);
        if (!q.exec())
            return failure(QStringLiteral("ler o código do evento"), q.lastError().text());
        if (q.next()) {
            const Row row(q);
            descricaoCodigo = row["DESCRICAO"].toString();
            const QVariant t = row["TIPO"];
            tipo = t.isNull() ? QString() : QString::number(t.toInt());
            registroAutomatico = row["REGISTRO_AUTOMATICO"].toInt();
            prioridade = row["PRIORIDADE"].toInt();
            som = row["SOM"].toString();
            somContinuo = row["SOM_CONTINUO"].toInt();
            envioSms = row["ENVIO_SMS"].toInt();
        }
    }

    // What can never be stored is turned away before anything changes.
    int particao = 0;
    if (!toSmallint(ev.particao, &particao))
        return reject(QStringLiteral("partição inválida: \"%1\"").arg(ev.particao));
    const QDateTime data = eventline::parseDateTime(ev.dataHora);
    if (!data.isValid())
        return reject(QStringLiteral("data e hora inválidas: \"%1\"").arg(ev.dataHora));
    const bool porUsuario = tipo == QLatin1String("0") || tipo == QLatin1String("1");
    const bool porZona = tipo == QLatin1String("2") || tipo == QLatin1String("3");
    int numeroZonaUsuario = 0;
    if (cadastrado && (porUsuario || porZona) && !toSmallint(ev.zonaUsuario, &numeroZonaUsuario))
        return reject(QStringLiteral("zona ou usuário inválido: \"%1\"").arg(ev.zonaUsuario));

    const QDateTime agora = m_clock.now();

    // Any event is a sign of life.
    {
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("Update CLIENTES Set ULTIMO_EVENTO =:UltimoEvento, EVENTO_ATRASADO = 0\n"
                           "where CONTA =:id"));
        q.bindValue(QStringLiteral(":UltimoEvento"), agora);
        q.bindValue(QStringLiteral(":id"), ev.conta);
        if (!q.exec()) return failure(QStringLiteral("atualizar a conta"), q.lastError().text());
    }
    semComunicacao = true;

    QString cliente = cadastrado ? nome : QStringLiteral("Não Cadastrado");
    QString nomeParticao = QStringLiteral("PARTIÇÃO ") + ev.particao;
    QString descricao = descricaoCodigo;
    QString tipoTexto = tipo;

    // Sound.
    if (m_sound) {
        m_sound->stopPlayer();
        if (somContinuo == 1) {
            if (!som.isEmpty()) m_sound->playRepeating(som);
        } else {
            m_sound->playOnce(som);
        }
    }

    // Partition name.
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("Select * from PARTICOES where CONTA =:conta and PARTICAO =:particao"));
        q.bindValue(QStringLiteral(":conta"), ev.conta);
        q.bindValue(QStringLiteral(":particao"), particao);
        if (!q.exec()) return failure(QStringLiteral("ler a partição"), q.lastError().text());
        if (q.next()) {
            const QString n = Row(q)["NOME_PARTICAO"].toString();
            if (!n.isEmpty()) nomeParticao = n;
        }
    }

    auto descreve = [&](const QString &tabela,
                        const QString &coluna) -> std::optional<RecordResult> {
        if (!cadastrado) {
            descricao += QLatin1Char(' ') + ev.zonaUsuario;
            return std::nullopt;
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("Select * from %1 where CONTA =:conta and %2 =:%3")
                      .arg(tabela, coluna, coluna.toLower()));
        q.bindValue(QStringLiteral(":conta"), ev.conta);
        q.bindValue(QLatin1Char(':') + coluna.toLower(), numeroZonaUsuario);
        if (!q.exec()) return failure(QStringLiteral("ler a descrição"), q.lastError().text());
        QString d;
        if (q.next()) d = Row(q)["DESCRICAO"].toString();
        descricao += QLatin1Char(' ') + (d.isEmpty() ? QString::number(numeroZonaUsuario) : d);
        return std::nullopt;
    };
    // "Update CLIENTES Set DESARMADOS =:desarmados" / "where CONTA =:id", and REARME alike.
    auto setFlag = [&](const char *coluna, int valor) -> std::optional<RecordResult> {
        const QString param = QString::fromLatin1(coluna).toLower();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("Update CLIENTES Set %1 =:%2\nwhere CONTA =:id")
                      .arg(QLatin1String(coluna), param));
        q.bindValue(QLatin1Char(':') + param, valor);
        q.bindValue(QStringLiteral(":id"), ev.conta);
        if (q.exec()) return std::nullopt;
        return failure(QStringLiteral("atualizar %1 da conta").arg(QLatin1String(coluna)),
                       q.lastError().text());
    };

    // Classification.
    if (tipo == QLatin1String("0")) {
        tipoTexto = tipoNome(tipo);
        if (auto f = descreve(QStringLiteral("USUARIOS"), QStringLiteral("USUARIO"))) return *f;
        if (auto f = setFlag("DESARMADOS", 1)) return *f;
        desarmados = true;
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("Select * from QUADRO_HORARIOS where\nCONTA =:conta\nand DIA =:dia\n"
                           "and HORA =:hora\nand MARCADO =:marcado"));
        q.bindValue(QStringLiteral(":conta"), ev.conta);
        q.bindValue(QStringLiteral(":dia"), diaSemana(agora.date()));
        q.bindValue(QStringLiteral(":hora"), QTime(agora.time().hour(), 0, 0));
        q.bindValue(QStringLiteral(":marcado"), 1);
        if (!q.exec())
            return failure(QStringLiteral("ler o quadro de horários"), q.lastError().text());
        if (q.next())
            result.warning =
                QStringLiteral("Cliente ") + nome + QStringLiteral(" Entrou fora do horário");
    } else if (tipo == QLatin1String("1")) {
        tipoTexto = tipoNome(tipo);
        if (auto f = descreve(QStringLiteral("USUARIOS"), QStringLiteral("USUARIO"))) return *f;
        if (auto f = setFlag("DESARMADOS", 0)) return *f;
        desarmados = true;
        if (auto f = setFlag("REARME", 0)) return *f;
        aguardandoArmar = true;
    } else if (porZona) {
        tipoTexto = tipoNome(tipo);
        if (auto f = descreve(QStringLiteral("ZONAS"), QStringLiteral("ZONA"))) return *f;
    } else if (tipo == QLatin1String("10")) {
        tipoTexto = tipoNome(tipo);
        cliente = QStringLiteral("EVENTO INTERNO");
    } else {
        tipoTexto = tipoNome(tipo);
    }

    // SMS through every receiver marked for it.
    if (envioSms == 1 && m_slots) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (q.exec(QStringLiteral("Select * from RECEIVER where\nENVIA_SMS = 1"))) {
            const QByteArray cmd = comandoSms(celular, descricao, nomeParticao);
            while (q.next())
                m_slots->writeToSlot(Row(q)["RECEIVER"].toInt(), cmd);
        }
    }

    // The event itself.
    {
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("Insert Into EVENTOS (CONTA, CLIENTE, CODIGO_ALARME, ARGUMENTO, \n"
                           "NUMERO_PARTICAO, NOME_PARTICAO, DESCRICAO, TIPO,\n"
                           "DATA, DATA_INTERVENCAO, DETALHES, IDECALL,\n"
                           "TRATADO, PRIORIDADE)\n"
                           "values(:conta,:cliente,:codigo_alarme,:argumento,:numero_particao,\n"
                           ":nome_particao,:descricao,:tipo,:data,:data_intervencao,\n"
                           ":detalhes,:idecall,:tratado, :prioridade)"));
        q.bindValue(QStringLiteral(":conta"), fit(ev.conta, 6));
        q.bindValue(QStringLiteral(":cliente"), fit(cliente, 40));
        q.bindValue(QStringLiteral(":codigo_alarme"), fit(ev.codigo, 4));
        q.bindValue(QStringLiteral(":argumento"), fit(ev.zonaUsuario, 3));
        q.bindValue(QStringLiteral(":numero_particao"), particao);
        q.bindValue(QStringLiteral(":nome_particao"), fit(nomeParticao, 16));
        q.bindValue(QStringLiteral(":descricao"), fit(descricao, 60));
        q.bindValue(QStringLiteral(":tipo"), fit(tipoTexto, 16));
        q.bindValue(QStringLiteral(":data"), data);
        q.bindValue(QStringLiteral(":data_intervencao"), agora);
        q.bindValue(QStringLiteral(":detalhes"), QStringLiteral("Evento Padrão"));
        q.bindValue(QStringLiteral(":idecall"), fit(ev.idecall, 16));
        q.bindValue(QStringLiteral(":tratado"), registroAutomatico);
        q.bindValue(QStringLiteral(":prioridade"), prioridade);
        if (!q.exec()) return failure(QStringLiteral("gravar o evento"), q.lastError().text());
    }

    if (!db.commit()) return failure(QStringLiteral("confirmar a gravação"), db.lastError().text());

    result.status = RecordResult::Status::Stored;
    if (semComunicacao) emit semComunicacaoChanged();
    if (desarmados) emit desarmadosChanged();
    if (aguardandoArmar) emit aguardandoArmarChanged();
    if (registroAutomatico == 0) emit pendenteRegistrado();
    emit recebidosChanged();
    return result;
}

} // namespace tulmo
