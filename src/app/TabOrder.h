#pragma once

#include <QObject>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// Tab moves through siblings in the order of their parent's children; views
// that make their children in another order put them right with this.
// Reachable from QML as the singleton TabOrder.
class TabOrder : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Moves item to just after sibling among their parent's children.
    Q_INVOKABLE void placeAfter(QQuickItem *item, QQuickItem *sibling) const;
};
