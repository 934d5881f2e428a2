#pragma once

#include "platform/Platform.h"

#include <memory>

// The real platform services of a Linux X11 desktop.
std::unique_ptr<Platform> createLinuxPlatform();
