#include "AccessibleFocus.h"

#include <QAccessible>

void AccessibleFocus::moveTo(QQuickItem *item) const
{
    if (!item || !QAccessible::isActive())
        return;
    QAccessibleEvent event(item, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}
