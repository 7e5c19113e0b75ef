#include "StandardCatalogue.h"

#include <algorithm>

namespace tulmo::StandardCatalogue {

namespace {

// What a family of codes is to the station. The new event (qualifier 1) and its restore or
// closing (qualifier 3) are classified apart.
enum class Kind { Emergency, Panic, Alarm, Trouble, OpenClose, Registration, Test };

struct KindRule {
    int tipoNovo, tipoRestauro;
    int automatico; // alarms wait for an operator; everything else is registered at once
    int sms;        // the holder hears of alarms, not of routine
    bool alarmSound;
};

KindRule rule(Kind k) {
    switch (k) {
    case Kind::Emergency:
        return {4, 3, 0, 1, true};
    case Kind::Panic:
        return {5, 3, 0, 1, true};
    case Kind::Alarm:
        return {2, 3, 0, 1, true};
    case Kind::Trouble:
        return {8, 3, 1, 0, false};
    case Kind::OpenClose:
        return {0, 1, 1, 0, false};
    case Kind::Registration:
        return {7, 7, 1, 0, false};
    case Kind::Test:
        return {6, 6, 1, 0, false};
    }
    return {7, 7, 1, 0, false};
}

struct Entry {
    int number;
    Kind kind;
    int prioridade; // of the new event; restores of alarms and troubles are BAIXA
    const char *novo;
    // nullptr: "RESTAURO " and the new event's text; "": no code with qualifier 3.
    const char *restauro;
};

constexpr const char *kNone = "";

// Descriptions stay well inside DESCRICAO's 40 characters: the recording appends the zone's
// or the user's name to them.
const Entry kEntries[] = {
    // clang-format off
    // Medical and fire: emergencies.
    {100, Kind::Emergency, 5, "EMERGÊNCIA MÉDICA", nullptr},
    {101, Kind::Emergency, 5, "EMERGÊNCIA PESSOAL", nullptr},
    {102, Kind::Emergency, 4, "FALHA DE APRESENTAÇÃO", nullptr},
    {110, Kind::Emergency, 5, "ALARME DE INCÊNDIO", nullptr},
    {111, Kind::Emergency, 5, "ALARME DE FUMAÇA", nullptr},
    {112, Kind::Emergency, 5, "ALARME DE COMBUSTÃO", nullptr},
    {113, Kind::Emergency, 5, "ALARME DE FLUXO DE ÁGUA", nullptr},
    {114, Kind::Emergency, 5, "ALARME DE CALOR", nullptr},
    {115, Kind::Emergency, 5, "ACIONADOR MANUAL DE INCÊNDIO", nullptr},
    {116, Kind::Emergency, 5, "ALARME DE DUTO", nullptr},
    {117, Kind::Emergency, 5, "ALARME DE CHAMA", nullptr},
    {118, Kind::Emergency, 4, "PRÉ-ALARME DE INCÊNDIO", nullptr},
    // Panic and hold-up.
    {120, Kind::Panic, 5, "PÂNICO", nullptr},
    {121, Kind::Panic, 5, "COAÇÃO", nullptr},
    {122, Kind::Panic, 5, "PÂNICO SILENCIOSO", nullptr},
    {123, Kind::Panic, 5, "PÂNICO AUDÍVEL", nullptr},
    {124, Kind::Panic, 5, "COAÇÃO - ACESSO LIBERADO", nullptr},
    {125, Kind::Panic, 5, "COAÇÃO - SAÍDA LIBERADA", nullptr},
    // Burglary, general alarm and tamper, 24-hour non-burglary.
    {130, Kind::Alarm, 4, "ALARME DE INTRUSÃO", nullptr},
    {131, Kind::Alarm, 4, "ALARME PERIMETRAL", nullptr},
    {132, Kind::Alarm, 4, "ALARME INTERNO", nullptr},
    {133, Kind::Alarm, 4, "ALARME 24 HORAS (COFRE)", nullptr},
    {134, Kind::Alarm, 4, "ALARME ENTRADA/SAÍDA", nullptr},
    {135, Kind::Alarm, 4, "ALARME DIA/NOITE", nullptr},
    {136, Kind::Alarm, 4, "ALARME ÁREA EXTERNA", nullptr},
    {137, Kind::Alarm, 4, "VIOLAÇÃO DE TAMPER", nullptr},
    {138, Kind::Alarm, 3, "PRÉ-ALARME DE INTRUSÃO", nullptr},
    {139, Kind::Alarm, 5, "INTRUSÃO VERIFICADA", nullptr},
    {140, Kind::Alarm, 4, "ALARME GERAL", nullptr},
    {141, Kind::Alarm, 4, "ALARME BARRAMENTO ABERTO", nullptr},
    {142, Kind::Alarm, 4, "ALARME BARRAMENTO EM CURTO", nullptr},
    {143, Kind::Alarm, 4, "ALARME FALHA MÓDULO EXPANSÃO", nullptr},
    {144, Kind::Alarm, 4, "TAMPER DE SENSOR", nullptr},
    {145, Kind::Alarm, 4, "TAMPER DE MÓDULO EXPANSÃO", nullptr},
    {146, Kind::Alarm, 4, "ALARME DE INTRUSÃO SILENCIOSO", nullptr},
    {147, Kind::Alarm, 4, "FALHA SUPERVISÃO DE SENSOR", nullptr},
    {150, Kind::Alarm, 4, "ALARME 24 HORAS NÃO INTRUSÃO", nullptr},
    {151, Kind::Alarm, 5, "ALARME DE GÁS", nullptr},
    {152, Kind::Alarm, 4, "ALARME DE REFRIGERAÇÃO", nullptr},
    {153, Kind::Alarm, 4, "PERDA DE AQUECIMENTO", nullptr},
    {154, Kind::Alarm, 4, "VAZAMENTO DE ÁGUA", nullptr},
    {155, Kind::Alarm, 4, "ROMPIMENTO DE FITA", nullptr},
    {156, Kind::Alarm, 3, "PROBLEMA DIURNO", nullptr},
    {157, Kind::Alarm, 4, "GÁS ENGARRAFADO BAIXO", nullptr},
    {158, Kind::Alarm, 4, "TEMPERATURA ALTA", nullptr},
    {159, Kind::Alarm, 4, "TEMPERATURA BAIXA", nullptr},
    {161, Kind::Alarm, 4, "PERDA DE FLUXO DE AR", nullptr},
    {162, Kind::Alarm, 5, "MONÓXIDO DE CARBONO", nullptr},
    {163, Kind::Alarm, 4, "NÍVEL DE TANQUE", nullptr},
    // Fire supervisory.
    {200, Kind::Trouble, 3, "SUPERVISÃO DE INCÊNDIO", nullptr},
    {201, Kind::Trouble, 3, "BAIXA PRESSÃO DE ÁGUA", nullptr},
    {202, Kind::Trouble, 3, "BAIXO NÍVEL DE CO2", nullptr},
    {203, Kind::Trouble, 3, "VÁLVULA DE BLOQUEIO", nullptr},
    {204, Kind::Trouble, 3, "BAIXO NÍVEL DE ÁGUA", nullptr},
    {205, Kind::Trouble, 3, "BOMBA ACIONADA", nullptr},
    {206, Kind::Trouble, 3, "FALHA DA BOMBA", nullptr},
    // System trouble.
    {300, Kind::Trouble, 3, "PROBLEMA NO SISTEMA", nullptr},
    {301, Kind::Trouble, 3, "FALTA DE ENERGIA AC", nullptr},
    {302, Kind::Trouble, 3, "BATERIA BAIXA DO SISTEMA", nullptr},
    {303, Kind::Trouble, 3, "ERRO NA MEMÓRIA RAM", nullptr},
    {304, Kind::Trouble, 3, "ERRO NA MEMÓRIA ROM", nullptr},
    {305, Kind::Trouble, 2, "REINÍCIO DO SISTEMA", kNone},
    {306, Kind::Trouble, 2, "PROGRAMAÇÃO ALTERADA", kNone},
    {307, Kind::Trouble, 3, "FALHA NO AUTOTESTE", nullptr},
    {308, Kind::Trouble, 3, "DESLIGAMENTO DO SISTEMA", nullptr},
    {309, Kind::Trouble, 3, "FALHA NO TESTE DE BATERIA", nullptr},
    {310, Kind::Trouble, 3, "FUGA PARA TERRA", nullptr},
    {311, Kind::Trouble, 3, "BATERIA AUSENTE", nullptr},
    {312, Kind::Trouble, 3, "SOBRECORRENTE NA FONTE", nullptr},
    {313, Kind::Trouble, 2, "REINÍCIO PELO TÉCNICO", kNone},
    // Sounder and relay trouble.
    {320, Kind::Trouble, 3, "PROBLEMA EM SIRENE/RELÉ", nullptr},
    {321, Kind::Trouble, 3, "PROBLEMA NA SIRENE 1", nullptr},
    {322, Kind::Trouble, 3, "PROBLEMA NA SIRENE 2", nullptr},
    {323, Kind::Trouble, 3, "PROBLEMA NO RELÉ DE ALARME", nullptr},
    {324, Kind::Trouble, 3, "PROBLEMA NO RELÉ DE FALHA", nullptr},
    {325, Kind::Trouble, 3, "PROBLEMA NO RELÉ DE INVERSÃO", nullptr},
    {326, Kind::Trouble, 3, "PROBLEMA NO SINALIZADOR 3", nullptr},
    {327, Kind::Trouble, 3, "PROBLEMA NO SINALIZADOR 4", nullptr},
    // Peripheral trouble.
    {330, Kind::Trouble, 3, "PROBLEMA EM PERIFÉRICO", nullptr},
    {331, Kind::Trouble, 3, "FALHA BARRAMENTO ABERTO", nullptr},
    {332, Kind::Trouble, 3, "FALHA BARRAMENTO EM CURTO", nullptr},
    {333, Kind::Trouble, 3, "FALHA DE MÓDULO EXPANSÃO", nullptr},
    {334, Kind::Trouble, 3, "FALHA NO REPETIDOR", nullptr},
    {335, Kind::Trouble, 2, "IMPRESSORA SEM PAPEL", nullptr},
    {336, Kind::Trouble, 2, "FALHA NA IMPRESSORA", nullptr},
    {337, Kind::Trouble, 3, "MÓD. EXPANSÃO SEM ENERGIA DC", nullptr},
    {338, Kind::Trouble, 3, "MÓD. EXPANSÃO BATERIA BAIXA", nullptr},
    {339, Kind::Trouble, 2, "REINÍCIO DE MÓDULO EXPANSÃO", kNone},
    {341, Kind::Trouble, 3, "FALHA TAMPER MÓDULO EXPANSÃO", nullptr},
    {342, Kind::Trouble, 3, "MÓD. EXPANSÃO SEM ENERGIA AC", nullptr},
    {343, Kind::Trouble, 3, "FALHA AUTOTESTE MÓD. EXPANSÃO", nullptr},
    {344, Kind::Trouble, 4, "INTERFERÊNCIA NO RECEPTOR RF", nullptr},
    // Communication trouble.
    {350, Kind::Trouble, 3, "PROBLEMA DE COMUNICAÇÃO", nullptr},
    {351, Kind::Trouble, 3, "FALHA LINHA TELEFÔNICA 1", nullptr},
    {352, Kind::Trouble, 3, "FALHA LINHA TELEFÔNICA 2", nullptr},
    {353, Kind::Trouble, 3, "FALHA RÁDIO LONGO ALCANCE", nullptr},
    {354, Kind::Trouble, 3, "FALHA AO COMUNICAR EVENTO", nullptr},
    {355, Kind::Trouble, 3, "PERDA DE SUPERVISÃO DE RÁDIO", nullptr},
    {356, Kind::Trouble, 3, "PERDA DE POLLING DA CENTRAL", nullptr},
    {357, Kind::Trouble, 3, "VSWR RÁDIO LONGO ALCANCE", nullptr},
    // Zone trouble.
    {370, Kind::Trouble, 3, "PROBLEMA NO LAÇO DE PROTEÇÃO", nullptr},
    {371, Kind::Trouble, 3, "LAÇO DE PROTEÇÃO ABERTO", nullptr},
    {372, Kind::Trouble, 3, "LAÇO DE PROTEÇÃO EM CURTO", nullptr},
    {373, Kind::Trouble, 4, "PROBLEMA ZONA DE INCÊNDIO", nullptr},
    {374, Kind::Trouble, 3, "ERRO DE SAÍDA (ZONA)", nullptr},
    {375, Kind::Trouble, 4, "PROBLEMA ZONA DE PÂNICO", nullptr},
    {376, Kind::Trouble, 4, "PROBLEMA ZONA DE ASSALTO", nullptr},
    {377, Kind::Trouble, 3, "PROBLEMA DISPAROS REPETIDOS", nullptr},
    {378, Kind::Trouble, 3, "PROBLEMA ZONA CRUZADA", nullptr},
    // Sensor trouble.
    {380, Kind::Trouble, 3, "PROBLEMA NO SENSOR", nullptr},
    {381, Kind::Trouble, 3, "PERDA DE SUPERVISÃO RF", nullptr},
    {382, Kind::Trouble, 3, "PERDA DE SUPERVISÃO (RPM)", nullptr},
    {383, Kind::Trouble, 3, "FALHA TAMPER DE SENSOR", nullptr},
    {384, Kind::Trouble, 3, "BATERIA BAIXA SENSOR SEM FIO", nullptr},
    {385, Kind::Trouble, 3, "DET. FUMAÇA SENSIB. ALTA", nullptr},
    {386, Kind::Trouble, 3, "DET. FUMAÇA SENSIB. BAIXA", nullptr},
    {387, Kind::Trouble, 3, "DET. INTRUSÃO SENSIB. ALTA", nullptr},
    {388, Kind::Trouble, 3, "DET. INTRUSÃO SENSIB. BAIXA", nullptr},
    {389, Kind::Trouble, 3, "FALHA AUTOTESTE DE SENSOR", nullptr},
    {391, Kind::Trouble, 3, "PROBLEMA SENSOR DE VIGIA", nullptr},
    {392, Kind::Trouble, 3, "ERRO COMPENSAÇÃO DE DERIVA", nullptr},
    {393, Kind::Trouble, 2, "ALERTA DE MANUTENÇÃO", nullptr},
    // Openings (qualifier 1) disarm, closings (qualifier 3) arm.
    {400, Kind::OpenClose, 2, "DESARMADO", "ARMADO"},
    {401, Kind::OpenClose, 2, "DESARMADO PELO USUÁRIO", "ARMADO PELO USUÁRIO"},
    {402, Kind::OpenClose, 2, "DESARME DE GRUPO", "ARME DE GRUPO"},
    {403, Kind::OpenClose, 2, "DESARME AUTOMÁTICO", "ARME AUTOMÁTICO"},
    {404, Kind::OpenClose, 2, "DESARME ATRASADO", "ARME ATRASADO"},
    {405, Kind::OpenClose, 2, "DESARME ADIADO", "ARME ADIADO"},
    {406, Kind::Registration, 3, "CANCELAMENTO PELO USUÁRIO", kNone},
    {407, Kind::OpenClose, 2, "DESARME REMOTO", "ARME REMOTO"},
    {408, Kind::OpenClose, 2, "DESARME RÁPIDO", "ARME RÁPIDO"},
    {409, Kind::OpenClose, 2, "DESARME POR CHAVE", "ARME POR CHAVE"},
    // Remote access.
    {411, Kind::Registration, 2, "PEDIDO DE RETORNO DE CHAMADA", kNone},
    {412, Kind::Registration, 2, "DOWNLOAD BEM-SUCEDIDO", kNone},
    {413, Kind::Registration, 3, "ACESSO REMOTO MALSUCEDIDO", kNone},
    {414, Kind::Registration, 3, "COMANDO DESLIGAR SISTEMA", kNone},
    {415, Kind::Registration, 3, "COMANDO DESLIGAR DISCADOR", kNone},
    {416, Kind::Registration, 2, "UPLOAD BEM-SUCEDIDO", kNone},
    // Access control.
    {421, Kind::Registration, 2, "ACESSO NEGADO", kNone},
    {422, Kind::Registration, 2, "ACESSO DO USUÁRIO", kNone},
    {423, Kind::Registration, 3, "ACESSO FORÇADO", kNone},
    {424, Kind::Registration, 2, "SAÍDA NEGADA", kNone},
    {425, Kind::Registration, 2, "SAÍDA LIBERADA", kNone},
    {426, Kind::Registration, 3, "PORTA DE ACESSO ABERTA", "PORTA DE ACESSO FECHADA"},
    {427, Kind::Registration, 2, "PROBLEMA MONITOR DE PORTA", nullptr},
    {428, Kind::Registration, 2, "PROBLEMA PEDIDO DE SAÍDA", nullptr},
    {429, Kind::Registration, 2, "ENTRADA EM PROGRAMAÇÃO", kNone},
    {430, Kind::Registration, 2, "SAÍDA DE PROGRAMAÇÃO", kNone},
    {431, Kind::Registration, 2, "MUDANÇA DO NÍVEL DE AMEAÇA", kNone},
    {432, Kind::Registration, 2, "FALHA DO RELÉ DE ACESSO", nullptr},
    {433, Kind::Registration, 2, "PEDIDO DE SAÍDA DERIVADO", kNone},
    {434, Kind::Registration, 2, "MONITOR DE PORTA DERIVADO", kNone},
    // Stay arming is an arming: the account leaves the disarmed list.
    {441, Kind::OpenClose, 2, "DESARME DO ARME PARCIAL", "ARME PARCIAL"},
    {442, Kind::OpenClose, 2, "DESARME PARCIAL POR CHAVE", "ARME PARCIAL POR CHAVE"},
    // Opening and closing exceptions.
    {450, Kind::Registration, 2, "EXCEÇÃO DE ARME/DESARME", kNone},
    {451, Kind::Registration, 2, "ARME/DESARME ANTECIPADO", kNone},
    {452, Kind::Registration, 2, "ARME/DESARME ATRASADO", kNone},
    {453, Kind::Registration, 3, "FALHA AO DESARMAR", kNone},
    {454, Kind::Registration, 3, "FALHA AO ARMAR", kNone},
    {455, Kind::Registration, 3, "FALHA NO ARME AUTOMÁTICO", kNone},
    {456, Kind::Registration, 2, "ARME COM ZONAS ANULADAS", kNone},
    {457, Kind::Registration, 2, "ERRO DE SAÍDA (USUÁRIO)", kNone},
    {458, Kind::Registration, 2, "USUÁRIO NO LOCAL", kNone},
    {459, Kind::Registration, 3, "ARME RECENTE", kNone},
    {461, Kind::Registration, 3, "SENHA INCORRETA", kNone},
    {462, Kind::Registration, 2, "SENHA CORRETA", kNone},
    {463, Kind::Registration, 2, "REARME APÓS ALARME", kNone},
    {464, Kind::Registration, 2, "ARME AUTOMÁTICO PRORROGADO", kNone},
    {465, Kind::Registration, 3, "RESET DE ALARME DE PÂNICO", kNone},
    {466, Kind::Registration, 2, "TÉCNICO NO LOCAL", "TÉCNICO SAIU DO LOCAL"},
    // Disables (qualifier 3: enabled again).
    {501, Kind::Registration, 2, "LEITOR DE ACESSO DESATIVADO", "LEITOR DE ACESSO REATIVADO"},
    {520, Kind::Registration, 2, "SIRENE/RELÉ DESATIVADO", "SIRENE/RELÉ REATIVADO"},
    {521, Kind::Registration, 2, "SIRENE 1 DESATIVADA", "SIRENE 1 REATIVADA"},
    {522, Kind::Registration, 2, "SIRENE 2 DESATIVADA", "SIRENE 2 REATIVADA"},
    {523, Kind::Registration, 2, "RELÉ DE ALARME DESATIVADO", "RELÉ DE ALARME REATIVADO"},
    {524, Kind::Registration, 2, "RELÉ DE FALHA DESATIVADO", "RELÉ DE FALHA REATIVADO"},
    {525, Kind::Registration, 2, "RELÉ DE INVERSÃO DESATIVADO", "RELÉ DE INVERSÃO REATIVADO"},
    {526, Kind::Registration, 2, "SINALIZADOR 3 DESATIVADO", "SINALIZADOR 3 REATIVADO"},
    {527, Kind::Registration, 2, "SINALIZADOR 4 DESATIVADO", "SINALIZADOR 4 REATIVADO"},
    {531, Kind::Registration, 2, "MÓDULO ADICIONADO", kNone},
    {532, Kind::Registration, 2, "MÓDULO REMOVIDO", kNone},
    {551, Kind::Registration, 3, "DISCADOR DESATIVADO", "DISCADOR REATIVADO"},
    {552, Kind::Registration, 3, "TRANSMISSOR RÁDIO DESATIVADO", "TRANSMISSOR RÁDIO REATIVADO"},
    {553, Kind::Registration, 2, "ACESSO REMOTO DESATIVADO", "ACESSO REMOTO REATIVADO"},
    // Bypasses (qualifier 3: the zone is back).
    {570, Kind::Registration, 2, "ZONA ANULADA", "ZONA RESTABELECIDA"},
    {571, Kind::Registration, 3, "ZONA DE INCÊNDIO ANULADA", "ZONA DE INCÊNDIO RESTABELECIDA"},
    {572, Kind::Registration, 2, "ZONA 24 HORAS ANULADA", "ZONA 24 HORAS RESTABELECIDA"},
    {573, Kind::Registration, 2, "ZONA DE INTRUSÃO ANULADA", "ZONA DE INTRUSÃO RESTABELECIDA"},
    {574, Kind::Registration, 2, "GRUPO DE ZONAS ANULADO", "GRUPO DE ZONAS RESTABELECIDO"},
    {575, Kind::Registration, 2, "ANULAÇÃO POR DISPAROS", "FIM DA ANULAÇÃO POR DISPAROS"},
    {576, Kind::Registration, 2, "ZONA DE ACESSO DERIVADA", "ZONA DE ACESSO RESTABELECIDA"},
    {577, Kind::Registration, 2, "PONTO DE ACESSO ANULADO", "PONTO DE ACESSO RESTABELECIDO"},
    // Tests.
    {601, Kind::Test, 1, "TESTE MANUAL", kNone},
    {602, Kind::Test, 1, "TESTE PERIÓDICO", kNone},
    {603, Kind::Test, 1, "TRANSMISSÃO PERIÓDICA RF", kNone},
    {604, Kind::Test, 1, "TESTE DE INCÊNDIO", kNone},
    {605, Kind::Test, 1, "RELATÓRIO DE ESTADO A SEGUIR", kNone},
    {606, Kind::Test, 1, "ESCUTA A SEGUIR", kNone},
    {607, Kind::Test, 1, "MODO DE TESTE DE ZONAS", "FIM DO MODO DE TESTE DE ZONAS"},
    {608, Kind::Test, 2, "TESTE PERIÓDICO COM FALHA", kNone},
    {609, Kind::Test, 1, "TRANSMISSOR DE VÍDEO ATIVO", kNone},
    {611, Kind::Test, 1, "PONTO TESTADO OK", kNone},
    {612, Kind::Test, 1, "PONTO NÃO TESTADO", kNone},
    {613, Kind::Test, 1, "ZONA DE INTRUSÃO TESTADA", kNone},
    {614, Kind::Test, 1, "ZONA DE INCÊNDIO TESTADA", kNone},
    {615, Kind::Test, 1, "ZONA DE PÂNICO TESTADA", kNone},
    {616, Kind::Test, 1, "PEDIDO DE MANUTENÇÃO", kNone},
    // Miscellaneous.
    {621, Kind::Registration, 2, "REGISTRO DE EVENTOS APAGADO", kNone},
    {622, Kind::Registration, 1, "REGISTRO DE EVENTOS 50% CHEIO", kNone},
    {623, Kind::Registration, 2, "REGISTRO DE EVENTOS 90% CHEIO", kNone},
    {624, Kind::Registration, 2, "REGISTRO DE EVENTOS ESGOTADO", kNone},
    {625, Kind::Registration, 2, "DATA/HORA REAJUSTADA", kNone},
    {626, Kind::Registration, 2, "DATA/HORA IMPRECISA", kNone},
    {627, Kind::Registration, 2, "ENTRADA EM PROGRAMAÇÃO", kNone},
    {628, Kind::Registration, 2, "SAÍDA DE PROGRAMAÇÃO", kNone},
    {629, Kind::Registration, 1, "MARCA DE 32 HORAS DO REGISTRO", kNone},
    {630, Kind::Registration, 2, "MUDANÇA DE HORÁRIO", kNone},
    {631, Kind::Registration, 2, "MUDANÇA DE HORÁRIO DE EXCEÇÃO", kNone},
    {632, Kind::Registration, 2, "MUDANÇA DE HORÁRIO DE ACESSO", kNone},
    {641, Kind::Registration, 3, "PROBLEMA NO MONITOR DE IDOSO", kNone},
    {642, Kind::Registration, 3, "SUPERVISÃO DE RETORNO AO LAR", kNone},
    {654, Kind::Registration, 3, "SISTEMA INATIVO", kNone},
    // clang-format on
};

EventCode makeRow(int qualifier, int number, const QString &descricao, int tipo, int automatico,
                  int prioridade, int sms, bool alarmSound) {
    EventCode row;
    row[EventCode::CodigoEvento] =
        QStringLiteral("%1%2").arg(qualifier).arg(number, 3, 10, QLatin1Char('0'));
    row[EventCode::Descricao] = descricao;
    row[EventCode::Tipo] = tipo;
    row[EventCode::RegistroAutomatico] = automatico;
    row[EventCode::EnvioSms] = sms;
    row[EventCode::Prioridade] = prioridade;
    row[EventCode::SomContinuo] = alarmSound ? 1 : 0;
    row[EventCode::Som] = alarmSound ? QString::fromLatin1(kAlarmSound) : QString();
    return row;
}

} // namespace

QList<EventCode> rows() {
    QList<EventCode> out;
    for (const Entry &e : kEntries) {
        const KindRule r = rule(e.kind);
        out << makeRow(1, e.number, QString::fromUtf8(e.novo), r.tipoNovo, r.automatico,
                       e.prioridade, r.sms, r.alarmSound);
        if (e.restauro && !*e.restauro) continue;
        const QString restauro = e.restauro
                                     ? QString::fromUtf8(e.restauro)
                                     : QStringLiteral("RESTAURO ") + QString::fromUtf8(e.novo);
        // A restore is routine; only an opening or closing keeps its weight.
        const bool routine =
            e.kind != Kind::OpenClose && e.kind != Kind::Registration && e.kind != Kind::Test;
        out << makeRow(3, e.number, restauro, r.tipoRestauro, 1, routine ? 1 : e.prioridade, 0,
                       false);
    }
    std::sort(out.begin(), out.end(),
              [](const EventCode &a, const EventCode &b) { return a.codigo() < b.codigo(); });
    return out;
}

bool fill(QSqlDatabase db, QString *errorText) {
    return EventCodeRepository::insertAll(db, rows(), errorText);
}

} // namespace tulmo::StandardCatalogue
