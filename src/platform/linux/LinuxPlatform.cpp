#include "LinuxPlatform.h"

#include "IniSettings.h"
#include "PocketsphinxSpeechRecognition.h"
#include "RuleBasedLexicalTagger.h"
#include "XdgPaths.h"

#include <mutex>

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
    LexicalTagger &lexicalTagger() override
    {
        std::call_once(m_lexicalTaggerOnce, [this] { m_lexicalTagger = std::make_unique<RuleBasedLexicalTagger>(); });
        return *m_lexicalTagger;
    }

private:
    XdgPaths m_paths;
    IniSettings m_settings;
    std::unique_ptr<PocketsphinxSpeechRecognition> m_speechRecognition;
    std::once_flag m_lexicalTaggerOnce;
    std::unique_ptr<RuleBasedLexicalTagger> m_lexicalTagger;
};
} // namespace

std::unique_ptr<Platform> createLinuxPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
