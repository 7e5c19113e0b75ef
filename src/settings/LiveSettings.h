#pragma once

#include <QObject>
#include <QString>

namespace tulmo {

// The settings the rest of the console reads while it runs. The settings dialog's controls
// write here; reception, recording, the repeater and the mail read from here, whether the
// dialog has been shown or not.
class LiveSettings : public QObject {
    Q_OBJECT
public:
    // " Data dos eventos ": where the date and time of a decoded event come from.
    enum class DataEventos { BuscarDoComputador = 0, BuscarDoReceiver = 1 };

    explicit LiveSettings(QObject *parent = nullptr)
        : QObject(parent) {}

    DataEventos dataEventos() const { return m_dataEventos; }
    void setDataEventos(DataEventos d) { m_dataEventos = d; }

    // [Sons] SomRearme: the alert sound of accounts waiting to be armed or silent.
    const QString &somRearme() const { return m_somRearme; }
    void setSomRearme(const QString &path) { m_somRearme = path; }

private:
    DataEventos m_dataEventos = DataEventos::BuscarDoComputador;
    QString m_somRearme = QStringLiteral("C:\\Tulmo\\Sons\\P1Sound.wav");
};

} // namespace tulmo
