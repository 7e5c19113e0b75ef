#include "InternalEvent.h"

#include "core/events/EventLine.h"
#include "core/events/EventTypes.h"

namespace tulmo {

InternalEvent InternalEvent::rejectedLine(const QString &line, const QString &reason,
                                          const QDateTime &when) {
    InternalEvent e;
    // The fault first: the column cuts what is too long, and the line's beginning (receiver,
    // line, account) is what tells whose event it was.
    e.descricao = reason + QStringLiteral(": ") + line.simplified();
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

InternalEvent InternalEvent::stationNotice(const QString &text, const QDateTime &when) {
    InternalEvent e;
    e.descricao = text.left(60);
    e.data = when;
    return e;
}

EventRow InternalEvent::row(const QDateTime &now) const {
    // Empty texts rather than nulls: the lists and reports compare and join these columns.
    auto text = [](const QString &v) { return v.isNull() ? QStringLiteral("") : v; };
    EventRow r;
    r.conta = text(conta);
    r.cliente = QStringLiteral("EVENTO INTERNO");
    r.codigoAlarme = text(codigo);
    r.argumento = text(argumento);
    r.descricao = descricao;
    r.tipo = EventTypes::typeName(QStringLiteral("10"));
    r.data = data.isValid() ? data : now;
    r.dataIntervencao = now;
    r.detalhes = QStringLiteral("Evento Interno");
    r.idecall = QStringLiteral("");
    r.tratado = 0;
    r.prioridade = kPrioridade;
    return r;
}

} // namespace tulmo
