#include "ReceiverPorts.h"

#include <QHash>

#include <algorithm>

namespace tulmo::ReceiverPorts {

namespace {

struct Claim {
    int row;
    Use use;
    QString key;  // what two claims must not share
    QString port; // what the operator reads
};

bool validPort(int port) {
    return port >= 1 && port <= 65535;
}

QString plainName(const QList<ReceiverConfig> &rows, int i) {
    const QString nome = rows[i].nome.trimmed();
    return nome.isEmpty() ? QStringLiteral("Receiver %1").arg(rows[i].receiver) : nome;
}

// The receiver's name as the tree shows it; with its number when both sides share the name.
QString nameOf(const QList<ReceiverConfig> &rows, const Conflict &c, int i) {
    const bool tie = plainName(rows, c.holder) == plainName(rows, c.claimant);
    const QString number = tie ? QStringLiteral(" nº %1").arg(rows[i].receiver) : QString();
    return QLatin1Char('"') + plainName(rows, i) + QLatin1Char('"') + number;
}

// The receiver's name, and what it uses the port for when that is not plain from the port.
QString named(const QList<ReceiverConfig> &rows, const Conflict &c, int i, Use use) {
    switch (use) {
    case Use::SerialInput:
        return nameOf(rows, c, i) + QStringLiteral(" (entrada serial)");
    case Use::EventOutput:
        return nameOf(rows, c, i) + QStringLiteral(" (saída de eventos)");
    case Use::TcpListener:
    case Use::UdpSocket:
        break;
    }
    return nameOf(rows, c, i);
}

QString portText(const Conflict &c) {
    return QStringLiteral("a porta ") + c.port;
}

// Walks the claims in order; the first of each key keeps it.
void settle(const QList<Claim> &claims, QHash<QString, const Claim *> &taken,
            QList<Conflict> &out) {
    for (const Claim &c : claims) {
        const auto it = taken.constFind(c.key);
        if (it == taken.cend()) {
            taken.insert(c.key, &c);
            continue;
        }
        out.append({(*it)->row, c.row, (*it)->use, c.use, c.port});
    }
}

} // namespace

QString comName(int portaCom) {
    return QStringLiteral("COM%1").arg(portaCom + 1);
}

bool hasEventOutput(const ReceiverConfig &r) {
    return r.modo == 1 && r.portaCom >= 0;
}

QList<Conflict> conflicts(const QList<ReceiverConfig> &rows, const SerialDevice &device) {
    auto serial = [&](int i, Use use) {
        const int com = rows[i].portaCom;
        return Claim{i, use, QStringLiteral("S:") + (device ? device(com) : comName(com)),
                     comName(com)};
    };
    QList<Claim> inputs;
    for (int i = 0; i < rows.size(); ++i) {
        const ReceiverConfig &r = rows[i];
        if (!r.ativo) continue;
        if (r.modo == 0) {
            inputs.append(serial(i, Use::SerialInput));
        } else if (r.modo == 1 && validPort(r.portaTcp)) {
            inputs.append({i, Use::TcpListener, QStringLiteral("T:%1").arg(r.portaTcp),
                           QStringLiteral("TCP %1").arg(r.portaTcp)});
        } else if (r.modo == 2 && validPort(r.portaUdp)) {
            inputs.append({i, Use::UdpSocket, QStringLiteral("U:%1").arg(r.portaUdp),
                           QStringLiteral("UDP %1").arg(r.portaUdp)});
        }
    }
    QHash<QString, const Claim *> taken;
    QList<Conflict> out;
    settle(inputs, taken, out);

    QList<Claim> outputs;
    for (int i = 0; i < rows.size(); ++i) {
        const bool listenerRefused = std::any_of(out.cbegin(), out.cend(), [i](const Conflict &c) {
            return c.claimant == i && c.claimantUse == Use::TcpListener;
        });
        if (rows[i].ativo && hasEventOutput(rows[i]) && !listenerRefused)
            outputs.append(serial(i, Use::EventOutput));
    }
    settle(outputs, taken, out);
    std::stable_sort(out.begin(), out.end(),
                     [](const Conflict &a, const Conflict &b) { return a.claimant < b.claimant; });
    return out;
}

QString applyText(const QList<ReceiverConfig> &rows, const Conflict &c) {
    return QStringLiteral("Os Receivers %1 e %2 usam %3: ela fica com %4, e %5 não a abre até "
                          "que um dos dois seja alterado em Configurações.")
        .arg(named(rows, c, c.holder, c.holderUse), named(rows, c, c.claimant, c.claimantUse),
             portText(c), nameOf(rows, c, c.holder), nameOf(rows, c, c.claimant));
}

QString refusalText(const QList<ReceiverConfig> &rows, const Conflict &c, int edited) {
    const bool editedHolds = c.holder == edited;
    const int other = editedHolds ? c.claimant : c.holder;
    const Use otherUse = editedHolds ? c.claimantUse : c.holderUse;
    const Use editedUse = editedHolds ? c.holderUse : c.claimantUse;
    QString text = portText(c);
    text[0] = text[0].toUpper();
    return QStringLiteral("%1 já é usada pelo Receiver %2.\n\nO Receiver %3 não foi gravado: "
                          "escolha outra porta para ele.")
        .arg(text, named(rows, c, other, otherUse), named(rows, c, edited, editedUse));
}

} // namespace tulmo::ReceiverPorts
