#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class LoginItems;

// Registers or removes the application as a login item for the
// launch-at-login switch. Failures are logged with their reason and never
// reach the caller, so the switch keeps the value the user chose.
class LoginItemService : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
public:
    explicit LoginItemService(LoginItems &items, QObject *parent = nullptr);

    // "register" is reserved in C++.
    Q_INVOKABLE void register_();
    Q_INVOKABLE void unregister();
    // What the switch shows when it first appears.
    Q_INVOKABLE bool isRegistered() const;

private:
    LoginItems &m_items;
};
