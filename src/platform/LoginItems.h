#pragma once

#include <QString>

#include <optional>

// Starting this application when the user logs in.
class LoginItems {
public:
    virtual ~LoginItems() = default;

    // Each returns why it failed, in words a user can act on; none on success.
    virtual std::optional<QString> registerMainApp() = 0;
    // Succeeds when the application was not registered.
    virtual std::optional<QString> unregisterMainApp() = 0;
    // Whether the application will start at the next login.
    virtual bool isRegistered() = 0;
};
