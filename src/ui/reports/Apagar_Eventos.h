#pragma once

#include "core/console/CommonServices.h"
#include "core/reports/EventPurgeRepository.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QStringListModel;

namespace tulmo {

class EventPurger;

// "Apagar eventos recebidos": deletes stored events by date range, account, kind and
// partition. The deletion runs on a connection and thread of its own, all or nothing, while
// the window shows that it works; reception and recording go on meanwhile.
class Form_Apagar_eventos : public QDialog {
    Q_OBJECT
public:
    explicit Form_Apagar_eventos(CommonServices common, QWidget *parent = nullptr);
    ~Form_Apagar_eventos() override;

    // Each opening: the account list read again with no account shown, both dates today, the
    // result of the last purge gone.
    void FormActivate();
    // "Apagar": counts the chosen events, asks when untreated ones are among them, then
    // deletes them.
    void Button1Click();

    // The choices as they stand.
    PurgeFilter filter() const;
    EventPurger &purger() { return *m_purger; }

signals:
    // Events were deleted: the lists that show them are read again.
    void eventsDeleted();

protected:
    void showEvent(QShowEvent *e) override;

private:
    void surveyFinished(bool ok, const PurgeSurvey &survey, const QString &error);
    void purgeFinished(bool ok, int deleted, const QString &error);
    void setWorking(bool working);

    CommonServices m_common;
    EventPurger *m_purger;
    QStringListModel *m_accounts;
    QComboBox *m_account;
    QComboBox *m_kind;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QCheckBox *m_allPartitions;
    QSpinBox *m_partition;
    QPushButton *m_delete;
    QLabel *m_status;
    PurgeFilter m_surveyed; // the choices being counted
};

} // namespace tulmo
