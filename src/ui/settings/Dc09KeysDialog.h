#pragma once

#include <QDialog>

class QTableWidget;

namespace tulmo {

class Dc09Keys;
class Prompt;

// The AES keys of the accounts that report encrypted over DC-09: one row per account, the
// key typed as 32, 48 or 64 hexadecimal digits (AES-128, -192, -256). "Salvar" replaces the
// stored keys and reception uses them at once.
class Dc09KeysDialog : public QDialog {
    Q_OBJECT
public:
    Dc09KeysDialog(Dc09Keys &keys, Prompt *prompt, QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }
    void addRow();
    void removeRow();
    // Checks and stores the rows; false, with the reason shown, when a row is refused.
    bool save();
    // What the table shows of a key: one dot per digit.
    static QString maskedKey(const QString &key);

private:
    Dc09Keys &m_keys;
    Prompt *m_prompt;
    QTableWidget *m_table;
};

} // namespace tulmo
