#include "LinuxPlatform.h"

#include "IniSettings.h"
#include "XdgPaths.h"

namespace {
class LinuxPlatform : public Platform {
public:
    Paths &paths() override { return m_paths; }
    Settings &settings() override { return m_settings; }

private:
    XdgPaths m_paths;
    IniSettings m_settings;
};
} // namespace

std::unique_ptr<Platform> createLinuxPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
