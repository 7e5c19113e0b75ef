#include "RadioGroup.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QRadioButton>

namespace tulmo {

RadioGroup::RadioGroup(const QString &title, const QStringList &items, QWidget *parent,
                       Qt::Orientation orientation)
    : QGroupBox(title, parent) {
    auto *group = new QButtonGroup(this);
    auto *l = orientation == Qt::Vertical ? static_cast<QBoxLayout *>(new QVBoxLayout(this))
                                          : new QHBoxLayout(this);
    l->setContentsMargins(6, 2, 6, 2);
    l->setSpacing(2);
    for (const QString &text : items) {
        auto *b = new QRadioButton(text, this);
        group->addButton(b, int(m_items.size()));
        m_items.append(b);
        l->addWidget(b);
    }
}

int RadioGroup::itemIndex() const {
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items[i]->isChecked()) return i;
    return -1;
}

void RadioGroup::setItemIndex(int index) {
    if (index >= 0 && index < m_items.size()) {
        m_items[index]->setChecked(true);
        return;
    }
    // An exclusive group keeps one button on; clearing needs it let go for a moment.
    if (m_items.isEmpty()) return;
    QButtonGroup *group = m_items.first()->group();
    group->setExclusive(false);
    for (QRadioButton *b : m_items)
        b->setChecked(false);
    group->setExclusive(true);
}

} // namespace tulmo
