#pragma once

#include <QDialog>

class QComboBox;

namespace tulmo {

// The port and speed of an export through a serial port: "COM1" to "COM20" (mapped to a device
// through [Portas] of Config.ini, as the receivers' ports are) and the receivers' speeds.
class SerialPortDialog : public QDialog {
    Q_OBJECT
public:
    explicit SerialPortDialog(QWidget *parent = nullptr);

    // Indexes as the RECEIVER table keeps them: 0 is "COM1"; 0 is 1200 baud.
    int portaCom() const;
    int baudsCom() const;
    void setPortaCom(int index);
    void setBaudsCom(int index);

private:
    QComboBox *m_port;
    QComboBox *m_speed;
};

} // namespace tulmo
