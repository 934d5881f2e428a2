#include "SpeechVoiceSettings.h"

#include "platform/NeuralVoiceEngine.h"
#include "speech/F5TTSService.h"
#include "speech/TextToSpeechService.h"

SpeechVoiceSettings::SpeechVoiceSettings(TextToSpeechService &speech, F5TTSService &voicePack,
                                         NeuralVoiceEngine &neuralEngine, QObject *parent)
    : VoiceSettings(parent)
    , m_speech(speech)
    , m_voicePack(voicePack)
    , m_neuralEngine(neuralEngine)
{
    for (auto signal : {&TextToSpeechService::availableVoicesChanged, &TextToSpeechService::selectedVoiceChanged,
                        &TextToSpeechService::isModelLoadedChanged, &TextToSpeechService::isSpeakingChanged,
                        &TextToSpeechService::engineLabelChanged})
        connect(&m_speech, signal, this, &VoiceSettings::changed);
    for (auto signal : {&F5TTSService::isDownloadedChanged, &F5TTSService::isDownloadingChanged})
        connect(&m_voicePack, signal, this, &VoiceSettings::changed);
    connect(&m_voicePack, &F5TTSService::downloadProgressChanged, this, &VoiceSettings::voicePackProgressChanged);
}

QStringList SpeechVoiceSettings::availableVoices() const { return m_speech.availableVoices(); }
QString SpeechVoiceSettings::selectedVoice() const { return m_speech.selectedVoice(); }
bool SpeechVoiceSettings::isModelLoaded() const { return m_speech.isModelLoaded(); }
bool SpeechVoiceSettings::neuralAvailable() const { return m_neuralEngine.isAvailable(); }
bool SpeechVoiceSettings::isSpeaking() const { return m_speech.isSpeaking(); }
QString SpeechVoiceSettings::engineLabel() const { return m_speech.engineLabel(); }
bool SpeechVoiceSettings::voicePackDownloaded() const { return m_voicePack.isDownloaded(); }
bool SpeechVoiceSettings::voicePackDownloading() const { return m_voicePack.isDownloading(); }
double SpeechVoiceSettings::voicePackProgress() const { return m_voicePack.downloadProgress(); }
void SpeechVoiceSettings::selectVoice(const QString &id) { m_speech.selectVoice(id); }
// Its outcome shows in the voice-pack values; a failure is logged by the service.
void SpeechVoiceSettings::downloadVoicePack() { m_voicePack.downloadVoicePack(); }
void SpeechVoiceSettings::stopSpeaking() { m_speech.stop(); }
void SpeechVoiceSettings::speakWithNeuralVoice(const QString &text) { m_speech.speakWithKokoro(text); }
void SpeechVoiceSettings::speakWithSystemVoice(const QString &text) { m_speech.speakWithSystemVoice(text); }
