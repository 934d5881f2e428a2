#pragma once

#include "app/VoiceSettings.h"

class F5TTSService;
class NeuralVoiceEngine;
class TextToSpeechService;

// The voice card's view of the application's speech services.
class SpeechVoiceSettings : public VoiceSettings {
    Q_OBJECT

public:
    SpeechVoiceSettings(TextToSpeechService &speech, F5TTSService &voicePack, NeuralVoiceEngine &neuralEngine,
                        QObject *parent = nullptr);

    QStringList availableVoices() const override;
    QString selectedVoice() const override;
    bool isModelLoaded() const override;
    bool neuralAvailable() const override;
    bool isSpeaking() const override;
    QString engineLabel() const override;
    bool voicePackDownloaded() const override;
    bool voicePackDownloading() const override;
    double voicePackProgress() const override;
    void selectVoice(const QString &id) override;
    void downloadVoicePack() override;

protected:
    void stopSpeaking() override;
    void speakWithNeuralVoice(const QString &text) override;
    void speakWithSystemVoice(const QString &text) override;

private:
    TextToSpeechService &m_speech;
    F5TTSService &m_voicePack;
    NeuralVoiceEngine &m_neuralEngine;
};
