#include "SerialPortDialog.h"

#include "core/reception/Data_Modulo2.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

namespace tulmo {

namespace {
constexpr int kPorts = 20;
constexpr int kSpeeds = 10;
constexpr int k9600 = 3;
} // namespace

SerialPortDialog::SerialPortDialog(QWidget *parent)
    : QDialog(parent)
    , m_port(new QComboBox)
    , m_speed(new QComboBox) {
    setObjectName(QStringLiteral("SerialPortDialog"));
    setWindowTitle(QStringLiteral("Porta Serial"));
    setWindowModality(Qt::WindowModal);
    m_port->setObjectName(QStringLiteral("portCombo"));
    m_speed->setObjectName(QStringLiteral("speedCombo"));
    for (int i = 0; i < kPorts; ++i)
        m_port->addItem(DM1::portName(i));
    for (int i = 0; i < kSpeeds; ++i)
        m_speed->addItem(QString::number(DM1::speed(i)));
    m_speed->setCurrentIndex(k9600);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Porta:"), m_port);
    form->addRow(QStringLiteral("Velocidade:"), m_speed);
    form->addRow(buttons);
}

int SerialPortDialog::portaCom() const {
    return m_port->currentIndex();
}
int SerialPortDialog::baudsCom() const {
    return m_speed->currentIndex();
}
void SerialPortDialog::setPortaCom(int index) {
    m_port->setCurrentIndex(index);
}
void SerialPortDialog::setBaudsCom(int index) {
    m_speed->setCurrentIndex(index);
}

} // namespace tulmo
