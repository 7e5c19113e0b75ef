#include "InternalEvent.h"

#include "events/EventLine.h"
#include "events/EventTypes.h"

namespace tulmo {

InternalEvent InternalEvent::rejectedLine(const QString &line, const QString &reason,
                                          const QDateTime &when) {
    InternalEvent e;
    e.descricao = QStringLiteral("Linha rejeitada (%1): %2").arg(reason, line.simplified());
    e.data = when;
    if (const std::optional<DecodedEvent> d = eventline::parse(line)) {
        e.conta = d->conta;
        e.codigo = d->codigo;
        e.argumento = d->zonaUsuario;
    }
    return e;
}

InternalEvent InternalEvent::queueWriteFault(const QString &text, const QDateTime &since) {
    InternalEvent e;
    e.descricao = text;
    e.data = since;
    return e;
}

EventRow InternalEvent::row(const QDateTime &now) const {
    EventRow r;
    r.conta = conta;
    r.cliente = QStringLiteral("EVENTO INTERNO");
    r.codigoAlarme = codigo;
    r.argumento = argumento;
    r.descricao = descricao;
    r.tipo = EventTypes::typeName(QStringLiteral("10"));
    r.data = data.isValid() ? data : now;
    r.dataIntervencao = now;
    r.detalhes = QStringLiteral("Evento Interno");
    r.tratado = 0;
    r.prioridade = kPrioridade;
    return r;
}

} // namespace tulmo
