#include "Platform.h"

#include <QtGlobal>

namespace {
std::unique_ptr<Platform> &installed()
{
    static std::unique_ptr<Platform> platform;
    return platform;
}
} // namespace

Platform &Platform::instance()
{
    if (!installed())
        qFatal("No platform installed: call Platform::install() first");
    return *installed();
}

bool Platform::isInstalled()
{
    return installed() != nullptr;
}

void Platform::install(std::unique_ptr<Platform> platform)
{
    installed() = std::move(platform);
}
