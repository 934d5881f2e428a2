#pragma once

#include "platform/LoginItems.h"

#include <QStringList>

// Remembers the registration in memory; can be told to refuse changes.
class FakeLoginItems : public LoginItems {
public:
    bool registered = false;
    // When set, every change fails with this reason and changes nothing.
    std::optional<QString> refusal;
    // "register" and "unregister", in the order called.
    QStringList calls;

    std::optional<QString> registerMainApp() override { return change(QStringLiteral("register"), true); }
    std::optional<QString> unregisterMainApp() override { return change(QStringLiteral("unregister"), false); }
    bool isRegistered() override { return registered; }

private:
    std::optional<QString> change(const QString &call, bool value)
    {
        calls << call;
        if (!refusal)
            registered = value;
        return refusal;
    }
};
