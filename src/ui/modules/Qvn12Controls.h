#pragma once

#include "core/modules/ModuleParameterBlock.h"

#include <QLabel>

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace tulmo {

class RadioGroup;

// A label that says when it is clicked: the unit of a channel is renamed that way.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *e) override;
};

// The controls of the module editor, each named as the console has always named it, on its
// five pages. Built once; the editor fills and reads them.
struct Qvn12Controls {
    QTabWidget *pages = nullptr;
    // " Opções "
    QLabel *Numero_Equipamento, *Equipamento, *Data, *Velocidade_Com, *IP_Local;
    QSpinBox *Spin_Keep_Alive, *Spin_Chamadas_Externas;
    QSpinBox *Tentativas_Conexao, *Tempo_Tentativas, *Tentativas_IMEI, *Tentativas_Evento;
    RadioGroup *Modo_Reportagem, *RadioGroup2, *RadioGroup3, *SMS_Modo;
    QLineEdit *IMEI, *IP_Primario, *IP_Secundario1, *IP_Secundario2, *APN_Operadora,
        *Usuario_Operadora, *Senha_Operadora, *DNS_Remoto, *DNS_Operadora, *Porta_Remota,
        *Senha_Acesso, *Senha_SMS, *Telefone_SMS, *Telefone_UDP, *Conta_Interna;
    std::array<QCheckBox *, 5> CheckBox{}; // CheckBox1 … CheckBox5
    // " Configurações dos Canais"
    std::array<QLineEdit *, kChannels> Nivel_Baixo{}, Nivel_Alto{}, Tempo_Baixo{}, Tempo_Alto{};
    // "Mensagens SMS"
    std::array<QLineEdit *, kChannels> SMS_Alto{}, SMS_Baixo{};
    // "Comandos Remotos"
    std::array<QPushButton *, kPgmOutputs> Botao_PGM{};
    std::array<RadioGroup *, kPgmOutputs> RadioGroup_PGM{};
    std::array<QSpinBox *, kPgmOutputs> SpinPGM{};
    std::array<QLineEdit *, kChannels> Mostrador_Canal{};
    std::array<QLabel *, kChannels> readingUnit{}; // the unit beside each reading
    QPushButton *Botao_Ler_Canais = nullptr;
    // "Configurar Canais"
    std::array<QLineEdit *, kChannels> Nivel_Minimo{}, Nivel_Maximo{};
    std::array<ClickableLabel *, kChannels> Unidade_Canal{};
    QPushButton *Botao_Salvar = nullptr;
    QPushButton *Botao_Fechar = nullptr;

    // Builds every page into window: the pages above "Fechar".
    void build(QWidget *window);
    // Each text field and the control that holds it, in block order.
    struct TextControl {
        QString ModuleParameterBlock::*field;
        QLineEdit *edit;
    };
    std::array<TextControl, 15> textControls() const;
};

} // namespace tulmo
