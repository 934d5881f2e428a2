#pragma once

#include <QObject>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// Tells a screen reader which item the user is on where that is not the item
// with the keyboard focus: an open picker keeps the keys while the arrows
// move through its list. Reachable from QML as the singleton AccessibleFocus.
class AccessibleFocus : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The screen reader's focus moves to item (and is read) as if it had the keys.
    Q_INVOKABLE void moveTo(QQuickItem *item) const;
};
