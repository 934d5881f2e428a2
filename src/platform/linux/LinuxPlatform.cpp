#include "LinuxPlatform.h"

#include "AtspiAccessibility.h"
#include "EspeakSpeechSynthesizer.h"
#include "EwmhWorkspace.h"
#include "IniSettings.h"
#include "PocketsphinxSpeechRecognition.h"
#include "PulseAudioInput.h"
#include "PulseAudioOutput.h"
#include "QtClipboardPasteboard.h"
#include "RuleBasedLexicalTagger.h"
#include "UnavailableNeuralVoiceEngine.h"
#include "X11Connection.h"
#include "X11KeyEventSource.h"
#include "XdgAutostartLoginItems.h"
#include "XTestKeySynthesizer.h"
#include "XdgPaths.h"

#include <QFileInfo>

#include <memory>
#include <mutex>

namespace {
class LinuxPlatform : public Platform {
public:
    Paths &paths() override { return m_paths; }
    Settings &settings() override { return m_settings; }
    SpeechRecognition &speechRecognition() override
    {
        return lazy(m_speechRecognition, [] { return std::make_unique<PocketsphinxSpeechRecognition>(); });
    }
    LexicalTagger &lexicalTagger() override
    {
        std::call_once(m_lexicalTaggerOnce, [this] { m_lexicalTagger = std::make_unique<RuleBasedLexicalTagger>(); });
        return *m_lexicalTagger;
    }

    // Desktop services connect on first use, so headless use needs no display.
    KeySynthesizer &keySynthesizer() override
    {
        // Its own connection and workspace: it posts from the text injection
        // thread, and an Xlib connection serves one thread.
        return lazy(m_keySynthesizer, [this] {
            m_keySynthesizerX11 = std::make_unique<X11Connection>();
            m_keySynthesizerWorkspace = std::make_unique<EwmhWorkspace>(*m_keySynthesizerX11);
            return std::make_unique<XTestKeySynthesizer>(*m_keySynthesizerX11, *m_keySynthesizerWorkspace);
        });
    }
    Pasteboard &pasteboard() override
    {
        return lazy(m_pasteboard, [] { return std::make_unique<QtClipboardPasteboard>(); });
    }
    Workspace &workspace() override
    {
        return lazy(m_workspace, [this] { return std::make_unique<EwmhWorkspace>(x11()); });
    }
    Accessibility &accessibility() override
    {
        // Its own connection, used under its lock from the text injection
        // thread and the settings' status reads, apart from the main thread's.
        return lazy(m_accessibility, [this] {
            m_accessibilityX11 = std::make_unique<X11Connection>();
            return std::make_unique<AtspiAccessibility>(*m_accessibilityX11);
        });
    }
    AudioInput &audioInput() override
    {
        return lazy(m_audioInput, [] { return std::make_unique<PulseAudioInput>(); });
    }
    KeyEventSource &keyEventSource() override
    {
        // A connection of its own: it reads events, the shared one only properties.
        return lazy(m_keyEventSource, [] { return std::make_unique<X11KeyEventSource>(); });
    }
    LoginItems &loginItems() override
    {
        return lazy(m_loginItems, [] {
            return std::make_unique<XdgAutostartLoginItems>(
                XdgAutostartLoginItems::defaultAutostartDirectory(),
                QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
        });
    }
    AudioOutput &audioOutput() override
    {
        return lazy(m_audioOutput, [] { return std::make_unique<PulseAudioOutput>(); });
    }
    SystemSpeechSynthesizer &systemSpeechSynthesizer() override
    {
        return lazy(m_speechSynthesizer, [this] { return std::make_unique<EspeakSpeechSynthesizer>(audioOutput()); });
    }
    NeuralVoiceEngine &neuralVoiceEngine() override { return m_neuralVoiceEngine; }

private:
    template <typename T, typename Make>
    static T &lazy(std::unique_ptr<T> &slot, Make make)
    {
        if (!slot)
            slot = make();
        return *slot;
    }
    X11Connection &x11()
    {
        return lazy(m_x11, [] { return std::make_unique<X11Connection>(); });
    }

    XdgPaths m_paths;
    IniSettings m_settings;
    std::unique_ptr<PocketsphinxSpeechRecognition> m_speechRecognition;
    std::once_flag m_lexicalTaggerOnce;
    std::unique_ptr<RuleBasedLexicalTagger> m_lexicalTagger;
    std::unique_ptr<X11Connection> m_x11;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<X11Connection> m_keySynthesizerX11;
    std::unique_ptr<Workspace> m_keySynthesizerWorkspace;
    std::unique_ptr<KeySynthesizer> m_keySynthesizer;
    std::unique_ptr<Pasteboard> m_pasteboard;
    std::unique_ptr<X11Connection> m_accessibilityX11;
    std::unique_ptr<Accessibility> m_accessibility;
    std::unique_ptr<PulseAudioInput> m_audioInput;
    std::unique_ptr<X11KeyEventSource> m_keyEventSource;
    std::unique_ptr<LoginItems> m_loginItems;
    // declared after the output it plays through, so destroyed before it
    std::unique_ptr<PulseAudioOutput> m_audioOutput;
    std::unique_ptr<EspeakSpeechSynthesizer> m_speechSynthesizer;
    UnavailableNeuralVoiceEngine m_neuralVoiceEngine;
};
} // namespace

std::unique_ptr<Platform> createLinuxPlatform()
{
    return std::make_unique<LinuxPlatform>();
}
