#pragma once

#include <QObject>
#include <QString>

namespace tulmo {

// What holds reception or recording back, for the status bar and the service's output: the
// queue file that cannot be written, the database file gone, the database's fault; empty
// while nothing does.
class ReceptionStatus : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const QString &text() const { return m_text; }
    void setText(const QString &text) {
        if (text == m_text) return;
        m_text = text;
        emit changed(text);
    }

    // On a station of several workstations, which one receives and since when ("Recepção:
    // Mesa 2 desde …"): no fault, shown beside the faults.
    const QString &holderText() const { return m_holder; }
    void setHolderText(const QString &text) {
        if (text == m_holder) return;
        m_holder = text;
        emit holderChanged(text);
    }

signals:
    void changed(const QString &text);
    void holderChanged(const QString &text);

private:
    QString m_text;
    QString m_holder;
};

} // namespace tulmo
