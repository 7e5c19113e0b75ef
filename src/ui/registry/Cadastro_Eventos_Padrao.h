#pragma once

#include "core/console/CommonServices.h"
#include <QColor>
#include <QDialog>

#include <memory>

class QTableView;

namespace tulmo {

class SoundOutput;

class EventCodeModel;
class FileChooser;

// "Codigos de Eventos": the event-code catalogue as one editable grid, every row coloured by
// its type. Insert adds a row, Ctrl+Delete deletes one (after asking), Esc drops the changes
// of the row being edited; leaving a row saves it. The "..." button of the sound cell picks
// a .wav, saves the row with it and plays it once.
class Form_Eventos_Padrao : public QDialog {
    Q_OBJECT
public:
    explicit Form_Eventos_Padrao(CommonServices common, SoundOutput *sound, QWidget *parent = nullptr);
    ~Form_Eventos_Padrao() override;

    // Tests answer the file dialog themselves; nullptr restores the desktop's dialog.
    void setFileChooser(FileChooser *chooser);

    // Opening: every row read again, the first one current.
    void FormShow();
    // The sound cell's "..." button: chooses the current row's sound.
    void soundButtonClick();
    // Ctrl+Delete on the grid: deletes the current row after the grid's usual question.
    void deleteCurrentRow();
    // Insert on the grid: a new row before the current one.
    void insertRow();

    EventCodeModel &model() { return *m_model; }
    QTableView &grid() { return *m_grid; }

    struct RowColors {
        QColor background;
        QColor text;
    };
    // The colours a row is drawn in when not selected.
    RowColors rowColors(int row) const;

    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int currentRow() const;
    // Hands what the open cell editor holds to the model and closes it.
    void commitOpenEditor();
    void currentRowChanged(const QModelIndex &current, const QModelIndex &previous);

    CommonServices m_common;
    SoundOutput *m_sound;
    EventCodeModel *m_model;
    QTableView *m_grid;
    FileChooser *m_chooser = nullptr;
    std::unique_ptr<FileChooser> m_defaultChooser;
    bool m_returning = false; // moving back to a row that could not be saved
};

} // namespace tulmo
