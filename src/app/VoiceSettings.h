#pragma once

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

// The speech output as the settings' voice card sees it: the voices of the
// text-to-speech service, its engine, preview, and the HD voice pack. The
// application adapts its speech services to this in one place; the card
// binds to nothing else. An adaptor emits changed() whenever a value changes,
// and voicePackProgressChanged() alone for the progress, which moves often.
class VoiceSettings : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("adapted from the speech services")
    Q_PROPERTY(QStringList availableVoices READ availableVoices NOTIFY changed)
    Q_PROPERTY(QString selectedVoice READ selectedVoice NOTIFY changed)
    Q_PROPERTY(bool isModelLoaded READ isModelLoaded NOTIFY changed)
    // False where no neural engine exists, so its voices never load.
    Q_PROPERTY(bool neuralAvailable READ neuralAvailable NOTIFY changed)
    Q_PROPERTY(bool isSpeaking READ isSpeaking NOTIFY changed)
    Q_PROPERTY(QString engineLabel READ engineLabel NOTIFY changed)
    Q_PROPERTY(bool voicePackDownloaded READ voicePackDownloaded NOTIFY changed)
    Q_PROPERTY(bool voicePackDownloading READ voicePackDownloading NOTIFY changed)
    Q_PROPERTY(double voicePackProgress READ voicePackProgress NOTIFY voicePackProgressChanged)

public:
    static inline const QString previewSentence
        = QStringLiteral("Hello! This is how I sound. I am the voice of Tavrune.");

    using QObject::QObject;

    virtual QStringList availableVoices() const = 0;
    virtual QString selectedVoice() const = 0;
    virtual bool isModelLoaded() const = 0;
    virtual bool neuralAvailable() const = 0;
    virtual bool isSpeaking() const = 0;
    virtual QString engineLabel() const = 0;
    virtual bool voicePackDownloaded() const = 0;
    virtual bool voicePackDownloading() const = 0;
    virtual double voicePackProgress() const = 0;

    // Unknown ids are the service's to ignore; it keeps the choice.
    Q_INVOKABLE virtual void selectVoice(const QString &id) = 0;
    // Progress and the end show in the voice-pack values.
    Q_INVOKABLE virtual void downloadVoicePack() = 0;
    // Stops what is playing, then speaks the preview sentence with the neural
    // voice once loaded, else with the system voice.
    Q_INVOKABLE void previewVoice();

signals:
    void changed();
    void voicePackProgressChanged();

protected:
    virtual void stopSpeaking() = 0;
    virtual void speakWithNeuralVoice(const QString &text) = 0;
    virtual void speakWithSystemVoice(const QString &text) = 0;
};
