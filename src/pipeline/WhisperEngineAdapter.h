#pragma once

#include "pipeline/AudioSamples.h"
#include "support/LanguageOption.h"

#include <QFuture>
#include <QString>

#include <optional>

// One local Whisper engine running one operation at a time on its own executor.
class WhisperEngineAdapter {
public:
    virtual ~WhisperEngineAdapter() = default;

    virtual QFuture<void> loadModel(const QString &modelPath) = 0;
    // Takes newly captured samples; gives a fresh partial transcript when it decoded.
    virtual QFuture<std::optional<QString>> ingest(const AudioSamples &frames, LanguageOption language) = 0;
    // Transcribes the whole session.
    virtual QFuture<QString> finalize(LanguageOption language) = 0;
};
