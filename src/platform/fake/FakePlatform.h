#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeLexicalTagger.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeKeySynthesizer.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeAudioOutput.h"
#include "platform/fake/FakeNeuralVoiceEngine.h"
#include "platform/fake/FakeSystemSpeechSynthesizer.h"
#include "platform/fake/FakeKeyEventSource.h"
#include "platform/fake/FakeLoginItems.h"
#include "platform/fake/FakePaths.h"
#include "platform/fake/FakeSettings.h"
#include "platform/fake/FakeSpeechRecognizer.h"
#include "platform/fake/FakeWorkspace.h"

// Test doubles for every platform service, reachable by their fake types so a
// test can drive them.
class FakePlatform : public Platform {
public:
    Paths &paths() override { return m_paths; }
    Settings &settings() override { return m_settings; }
    SpeechRecognition &speechRecognition() override { return m_speechRecognition; }
    LexicalTagger &lexicalTagger() override { return m_lexicalTagger; }
    KeySynthesizer &keySynthesizer() override { return m_keySynthesizer; }
    Pasteboard &pasteboard() override { return m_pasteboard; }
    Workspace &workspace() override { return m_workspace; }
    Accessibility &accessibility() override { return m_accessibility; }
    AudioInput &audioInput() override { return m_audioInput; }
    KeyEventSource &keyEventSource() override { return m_keyEventSource; }
    LoginItems &loginItems() override { return m_loginItems; }
    AudioOutput &audioOutput() override { return m_audioOutput; }
    SystemSpeechSynthesizer &systemSpeechSynthesizer() override { return m_systemSpeechSynthesizer; }
    NeuralVoiceEngine &neuralVoiceEngine() override { return m_neuralVoiceEngine; }

    FakePaths &fakePaths() { return m_paths; }
    FakeSettings &fakeSettings() { return m_settings; }
    FakeSpeechRecognition &fakeSpeechRecognition() { return m_speechRecognition; }
    FakeLexicalTagger &fakeLexicalTagger() { return m_lexicalTagger; }
    FakeKeySynthesizer &fakeKeySynthesizer() { return m_keySynthesizer; }
    FakePasteboard &fakePasteboard() { return m_pasteboard; }
    FakeWorkspace &fakeWorkspace() { return m_workspace; }
    FakeAccessibility &fakeAccessibility() { return m_accessibility; }
    FakeAudioInput &fakeAudioInput() { return m_audioInput; }
    FakeKeyEventSource &fakeKeyEventSource() { return m_keyEventSource; }
    FakeLoginItems &fakeLoginItems() { return m_loginItems; }
    FakeAudioOutput &fakeAudioOutput() { return m_audioOutput; }
    FakeSystemSpeechSynthesizer &fakeSystemSpeechSynthesizer() { return m_systemSpeechSynthesizer; }
    FakeNeuralVoiceEngine &fakeNeuralVoiceEngine() { return m_neuralVoiceEngine; }

    // Installs a fresh FakePlatform and returns it.
    static FakePlatform &installNew();

private:
    FakePaths m_paths;
    FakeSettings m_settings;
    FakeSpeechRecognition m_speechRecognition;
    FakeLexicalTagger m_lexicalTagger;
    FakeKeySynthesizer m_keySynthesizer;
    FakePasteboard m_pasteboard;
    FakeWorkspace m_workspace;
    FakeAccessibility m_accessibility;
    FakeAudioInput m_audioInput;
    FakeKeyEventSource m_keyEventSource;
    FakeLoginItems m_loginItems;
    FakeAudioOutput m_audioOutput;
    FakeSystemSpeechSynthesizer m_systemSpeechSynthesizer;
    FakeNeuralVoiceEngine m_neuralVoiceEngine;
};
