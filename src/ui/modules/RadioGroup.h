#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

namespace tulmo {

// A titled box of radio buttons chosen by index, as the module editor's mode selectors are:
// index -1 is no item chosen.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr,
               Qt::Orientation orientation = Qt::Vertical);
    int itemIndex() const;
    // An index that names no item leaves none chosen.
    void setItemIndex(int index);
    QRadioButton *item(int index) const { return m_items.value(index); }
    int count() const { return int(m_items.size()); }

private:
    QList<QRadioButton *> m_items;
};

} // namespace tulmo
