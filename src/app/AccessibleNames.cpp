#include "AccessibleNames.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace {

QString caption(const QWidget* w)
{
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* box = qobject_cast<const QGroupBox*>(w))
        return box->title();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    return {};
}

void nameFromHint(QWidget* w)
{
    if (w->accessibleName().isEmpty() && !w->toolTip().isEmpty() && caption(w).trimmed().isEmpty())
        w->setAccessibleName(w->toolTip());
}

} // namespace

void AccessibleNames::fromHints(QWidget* root)
{
    if (!root)
        return;
    nameFromHint(root);
    for (QWidget* w : root->findChildren<QWidget*>())
        nameFromHint(w);
}
