#pragma once

#include <QObject>
#include <QString>

namespace tulmo {

// The settings the rest of the console reads while it runs. The settings dialog's controls
// write here; reception, recording, the repeater and the mail read from here, whether the
// dialog has been shown or not. Config.ini fills it at start-up (ConfigIni).
class LiveSettings : public QObject {
    Q_OBJECT
public:
    // " Data dos eventos ": where the date and time of a decoded event come from.
    enum class DataEventos { BuscarDoComputador = 0, BuscarDoReceiver = 1 };

    static constexpr int kTempoTentativasPadrao = 5;
    static constexpr int kTentativasRepetidoraPadrao = 5;

    explicit LiveSettings(QObject *parent = nullptr)
        : QObject(parent) {}

    DataEventos dataEventos() const { return m_dataEventos; }
    void setDataEventos(DataEventos d) { m_dataEventos = d; }

    // [Sons] SomRearme: the alert sound of accounts waiting to be armed or silent, as stored
    // (a path of the Windows version resolves under the program folder when played).
    const QString &somRearme() const { return m_somRearme; }
    void setSomRearme(const QString &path) { m_somRearme = path; }

    // [Empresa]: the station and the mail account of the report e-mails.
    const QString &nomeEmpresa() const { return m_nomeEmpresa; }
    void setNomeEmpresa(const QString &v) { m_nomeEmpresa = v; }
    const QString &nomeEmail() const { return m_nomeEmail; }
    void setNomeEmail(const QString &v) { m_nomeEmail = v; }
    const QString &usuario() const { return m_usuario; }
    void setUsuario(const QString &v) { m_usuario = v; }
    const QString &senha() const { return m_senha; }
    void setSenha(const QString &v) { m_senha = v; }
    const QString &enderecoEmail() const { return m_enderecoEmail; }
    void setEnderecoEmail(const QString &v) { m_enderecoEmail = v; }
    const QString &copiaCarbono() const { return m_copiaCarbono; }
    void setCopiaCarbono(const QString &v) { m_copiaCarbono = v; }
    const QString &smtp() const { return m_smtp; }
    void setSmtp(const QString &v) { m_smtp = v; }
    // The SMTP port as the operator typed it.
    const QString &portaEmail() const { return m_portaEmail; }
    void setPortaEmail(const QString &v) { m_portaEmail = v; }
    // The body of report e-mails, line breaks as "\n".
    const QString &corpoEmail() const { return m_corpoEmail; }
    void setCorpoEmail(const QString &v) { m_corpoEmail = v; }
    // True: mail through the desktop's mail client; false: by SMTP.
    bool correioPadrao() const { return m_correioPadrao; }
    void setCorreioPadrao(bool v) { m_correioPadrao = v; }

    // [Repetidora]: seconds between the repeater's attempts, and how many attempts.
    int tempoTentativas() const { return m_tempoTentativas; }
    void setTempoTentativas(int s) { m_tempoTentativas = s; }
    int tentativasRepetidora() const { return m_tentativasRepetidora; }
    void setTentativasRepetidora(int n) { m_tentativasRepetidora = n; }

private:
    DataEventos m_dataEventos = DataEventos::BuscarDoComputador;
    QString m_somRearme = QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav");
    QString m_nomeEmpresa;
    QString m_nomeEmail;
    QString m_usuario;
    QString m_senha;
    QString m_enderecoEmail;
    QString m_copiaCarbono;
    QString m_smtp;
    QString m_portaEmail = QStringLiteral("25");
    QString m_corpoEmail;
    bool m_correioPadrao = true;
    int m_tempoTentativas = kTempoTentativasPadrao;
    int m_tentativasRepetidora = kTentativasRepetidoraPadrao;
};

} // namespace tulmo
