#include "TabOrder.h"

void TabOrder::placeAfter(QQuickItem *item, QQuickItem *sibling) const
{
    if (item && sibling && item != sibling && item->parentItem() == sibling->parentItem())
        item->stackAfter(sibling);
}
