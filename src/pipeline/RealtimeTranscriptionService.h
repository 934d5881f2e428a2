#pragma once

#include "pipeline/ASRModelPreference.h"
#include "pipeline/AudioSamples.h"
#include "support/LanguageOption.h"

#include <QFuture>
#include <QString>

#include <functional>

// One live transcription session at a time. Used from the main thread.
class RealtimeTranscriptionService {
public:
    using PartialTextHandler = std::function<void(const QString &)>;

    virtual ~RealtimeTranscriptionService() = default;

    // Prepares a new session; frames may be appended once it has finished.
    virtual QFuture<void> start(LanguageOption language) = 0;
    // Appends samples in arrival order; never fails. Empty batches are allowed.
    virtual QFuture<void> appendAudioFrames(const AudioSamples &frames) = 0;
    // Ends the session and gives its final text.
    virtual QFuture<QString> stopAndFinalize() = 0;

    // Called on the main thread with each partial text.
    const PartialTextHandler &onPartialText() const { return m_onPartialText; }
    virtual void setOnPartialText(PartialTextHandler handler) { m_onPartialText = std::move(handler); }

    ASRModelPreference preferredASRModel() const { return m_preferredASRModel; }
    virtual void setPreferredASRModel(ASRModelPreference preference) { m_preferredASRModel = preference; }

    // A short label of the engine in use, read after a successful start.
    virtual QString activeASRModelName() const = 0;

protected:
    PartialTextHandler m_onPartialText;
    ASRModelPreference m_preferredASRModel = ASRModelPreferences::defaultValue;
};
