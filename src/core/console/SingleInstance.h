#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace tulmo {

// One console per user session: the first console listens on a local socket named "Tulmo";
// a later start finds it there, asks it to show itself and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static QString defaultName() { return QStringLiteral("Tulmo"); }

    // Tests give their own name, so that a console running on the same machine is left alone.
    explicit SingleInstance(QString nome = defaultName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first console: it then listens, and emits mostrarPedido() each
    // time a later start asks for it. False when another console is running: this process
    // should say so, call mostrarPrimeira() and end.
    bool tryBecomeFirst();
    // Asks the running console to come to the front; false when none answered.
    bool askFirstToShow();

    bool listening() const;
    // Where the socket is: in the session's runtime folder when there is one, so that every
    // user session has its own console.
    const QString &address() const { return m_address; }

signals:
    // A later start asked this console to come to the front.
    void showRequested();

private:
    bool connectTo(QLocalSocket &socket) const;
    void serveRequest();

    QString m_address;
    QLocalServer *m_server = nullptr;
};

} // namespace tulmo
