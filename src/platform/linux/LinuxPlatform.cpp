#include "LinuxPlatform.h"

#include "IniSettings.h"
#include "PocketsphinxSpeechRecognition.h"
#include "XdgPaths.h"

namespace {
class LinuxPlatform : public Platform {
public:
    Paths &paths() override { return m_paths; }
    Settings &settings() override { return m_settings; }
    SpeechRecognition &speechRecognition() override
    {
        if (!m_speechRecognition)
            m_speechRecognition = std::make_unique<PocketsphinxSpeechRecognition>();
        return *m_speechRecognition;
    }

private:
    XdgPaths m_paths;
    IniSettings m_settings;
    std::unique_ptr<PocketsphinxSpeechRecognition> m_speechRecognition;
};
} // namespace

std::unique_ptr<Platform> createLinuxPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
