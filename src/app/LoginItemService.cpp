#include "LoginItemService.h"

#include "platform/LoginItems.h"
#include "support/Log.h"

LoginItemService::LoginItemService(LoginItems &items, QObject *parent)
    : QObject(parent)
    , m_items(items)
{
}

void LoginItemService::register_()
{
    if (const auto failure = m_items.registerMainApp())
        logLine("LoginItem", QStringLiteral("Failed to register: %1").arg(*failure));
    else
        logLine("LoginItem", "Registered as login item");
}

void LoginItemService::unregister()
{
    if (const auto failure = m_items.unregisterMainApp())
        logLine("LoginItem", QStringLiteral("Failed to unregister: %1").arg(*failure));
    else
        logLine("LoginItem", "Unregistered login item");
}

bool LoginItemService::isRegistered() const
{
    return m_items.isRegistered();
}
