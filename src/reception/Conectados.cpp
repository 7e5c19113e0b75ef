#include "Conectados.h"

#include "common/Clock.h"
#include "reception/Data_Modulo2.h"

namespace tulmo {

Conectados::Conectados(DM1 &dm, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_dm(dm)
    , m_clock(clock) {}

void Conectados::enviarRespostaDevida(const QDateTime &) {}
void Conectados::expirarConexaoSilenciosa(const QDateTime &) {}

} // namespace tulmo
