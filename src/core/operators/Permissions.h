#pragma once

#include <QtGlobal>

namespace tulmo::Permissions {

// The bits of OPERADORES.PERMISSOES. The operator form is granted by the administrator's name
// instead.
enum Bit : quint32 {
    Clientes = 1,
    Eventos = 2,
    TcpIp = 4,
    Relatorios = 8,
    Configuracoes = 16,
    Fechar = 32, // may close the console
    Testes = 64, // may put accounts on test, for a few hours
    TestesLongos = 128, // may put accounts on test for days
};

// Before any shift is started the console runs with every permission.
inline constexpr quint32 kAll = 65535;

} // namespace tulmo::Permissions
