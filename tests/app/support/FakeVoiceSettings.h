#pragma once

#include "app/VoiceSettings.h"

// Speech output whose values a test sets (then emits changed(), and
// voicePackProgressChanged() for the progress); records
// what the card asks of it: "select <id>", "download", "stop",
// "neural: <text>", "system: <text>".
class FakeVoiceSettings : public VoiceSettings {
public:
    QStringList voices;
    bool modelLoaded = false;
    bool neural = true;
    QString engine = QStringLiteral("System Voice");
    bool packDownloading = false;
    double packProgress = 0;
    QStringList calls;

    QStringList availableVoices() const override { return voices; }
    QString selectedVoice() const override { return QStringLiteral("bm_george"); }
    bool isModelLoaded() const override { return modelLoaded; }
    bool neuralAvailable() const override { return neural; }
    bool isSpeaking() const override { return false; }
    QString engineLabel() const override { return engine; }
    bool voicePackDownloaded() const override { return false; }
    bool voicePackDownloading() const override { return packDownloading; }
    double voicePackProgress() const override { return packProgress; }
    void selectVoice(const QString &id) override { calls << QStringLiteral("select ") + id; }
    // downloading at once, as the real service is
    void downloadVoicePack() override
    {
        calls << QStringLiteral("download");
        packDownloading = true;
        emit changed();
    }

protected:
    void stopSpeaking() override { calls << QStringLiteral("stop"); }
    void speakWithNeuralVoice(const QString &text) override { calls << QStringLiteral("neural: ") + text; }
    void speakWithSystemVoice(const QString &text) override { calls << QStringLiteral("system: ") + text; }
};
