#pragma once

#include "Qvn12Controls.h"
#include "core/modules/ModuleParameterBlock.h"
#include "core/modules/ModuleSettingsRepository.h"

#include <QDialog>

#include <array>
#include <optional>

namespace tulmo {

class Database;
class Prompt;

// "QVN12": the parameter editor of a QVN module. Shown modally by the access console, it
// decodes the console's block each time it is shown and hands the encoded block back each
// time it closes; the module's GPRS row (channel ranges and units, PGM types and times) is
// loaded whenever the identifier changes and written by "Salvar". Its "Comandos Remotos" page
// reads the channels and switches the PGM outputs through the console's connection.
class Form_QVN12 : public QDialog {
    Q_OBJECT
public:
    Form_QVN12(Database &database, Prompt *prompt, QWidget *parent = nullptr);

    // The access console's model name, for the caption.
    void setModelName(const QString &name);
    // The block as hex text; decoded each time the editor is shown.
    void setBlockHex(const QString &hex);

    // Fills the block's controls from a hex text, field by field in block order.
    void decodeIntoEditor(const QString &hex);
    // The block the controls hold, or nothing when a level or a time is not a number the
    // module can keep; errorText then says which, and focus goes to the field.
    std::optional<ModuleParameterBlock> blockFromEditor(QString *errorText);

    void SalvarClick();
    void Ler_CanaisClick();
    void PGMClick(int k);
    void Unidade_CanalClick(int n);

    // Closing, whatever closes it, encodes the block; a field that cannot be converted keeps
    // the editor open with the reason and nothing is handed over.
    void done(int result) override;

    const Qvn12Controls &controls() const { return m_c; }
    // Whether PGM output k (1..8) was on at the last reading: the next click switches it off.
    bool pgmOn(int k) const { return m_pgmOn.at(k - 1); }

signals:
    void blockEncoded(const QByteArray &raw800);    // whenever the editor closes
    void commandRequested(const QByteArray &bytes); // "Ler Canais" and the PGM buttons

public slots:
    // A "#$" answer of the module: channel readings and PGM states.
    void showChannelReading(const QByteArray &frame);

protected:
    void showEvent(QShowEvent *e) override;

private:
    void loadRow(const QString &imei);
    void showRow();
    void updateCaption();
    void showBlock(const ModuleParameterBlock &b);
    void showPgmState(int k, bool on);
    bool readLevel(QLineEdit *e, const QString &what, int channel, int *tenths, QString *error);
    bool readTime(QLineEdit *e, const QString &what, int channel, int *seconds, QString *error);
    // Brings a field that cannot be read into view.
    void focusField(QWidget *w);
    void tell(const QString &text, const QString &caption);

    Database &m_database;
    Prompt *m_prompt;
    Qvn12Controls m_c;
    QString m_initialCaption;
    QString m_modelName;
    QString m_hex;
    ModuleParameterBlock m_block; // as last decoded: what the editor carries but does not show
    ModuleSettings m_row;         // the module's row as stored
    bool m_rowFound = false;
    std::array<bool, kPgmOutputs> m_pgmOn{};

protected:
    // For windows that are this editor under another caption.
    void setInitialCaption(const QString &caption);
};

} // namespace tulmo
