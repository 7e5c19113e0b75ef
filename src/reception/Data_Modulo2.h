#pragma once

#include "reception/SlotWriter.h"
#include "store/Banco.h"

#include <QObject>
#include <QString>

#include <array>
#include <memory>

class QSerialPort;

namespace tulmo {

// The reception data module: owns the database connections and the ten receiver slots.
class DM1 : public QObject, public SlotWriter {
    Q_OBJECT
public:
    static constexpr int kSlots = 10;

    // dataDir holds TULMO.FDB and Config.ini (whose [Portas] section maps port names).
    explicit DM1(QString dataDir, QObject *parent = nullptr);
    ~DM1() override;

    // Opens the database (creating a new installation's file) and runs the first upgrade step.
    bool abrirBanco(QString *error);
    Banco &banco() { return *m_banco; }
    const QString &dataDir() const { return m_dataDir; }

    // The serial port of slot k (1 to 10).
    QSerialPort *comPorta(int k) const;
    // "COM1" for index 0 … "COM20" for index 19.
    static QString nomePorta(int portaCom);
    // The speed of each index of the settings dialog's list; 9600 for an unknown index.
    static qint32 velocidade(int baudsCom);
    // Closes the port of slot k, names it after portaCom (through [Portas]), sets the speed
    // and opens it: 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS off.
    bool abrirPortaSerial(int k, int portaCom, int baudsCom, QString *error = nullptr);

    bool writeToSlot(int slot, const QByteArray &bytes) override;

private:
    QString m_dataDir;
    std::unique_ptr<Banco> m_banco;
    std::array<QSerialPort *, kSlots + 1> m_com{}; // index 0 unused: slots count from 1
};

} // namespace tulmo
