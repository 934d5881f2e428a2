#pragma once

#include <memory>

class LexicalTagger;
class Accessibility;
class KeySynthesizer;
class Pasteboard;
class AudioInput;
class AudioOutput;
class NeuralVoiceEngine;
class SystemSpeechSynthesizer;
class KeyEventSource;
class LoginItems;
class Paths;
class Settings;
class SpeechRecognition;
class Workspace;

// Holds the platform services the application reaches. main() installs the
// Linux one; tests install a FakePlatform.
class Platform {
public:
    virtual ~Platform() = default;

    virtual Paths &paths() = 0;
    virtual Settings &settings() = 0;
    virtual SpeechRecognition &speechRecognition() = 0;
    virtual LexicalTagger &lexicalTagger() = 0;
    virtual KeySynthesizer &keySynthesizer() = 0;
    virtual Pasteboard &pasteboard() = 0;
    virtual Workspace &workspace() = 0;
    virtual Accessibility &accessibility() = 0;
    virtual AudioInput &audioInput() = 0;
    virtual KeyEventSource &keyEventSource() = 0;
    virtual LoginItems &loginItems() = 0;
    virtual AudioOutput &audioOutput() = 0;
    virtual SystemSpeechSynthesizer &systemSpeechSynthesizer() = 0;
    virtual NeuralVoiceEngine &neuralVoiceEngine() = 0;

    // The installed platform; aborts when none is installed.
    static Platform &instance();
    static bool isInstalled();
    // Replaces the installed platform (and destroys the previous one).
    static void install(std::unique_ptr<Platform> platform);
};
