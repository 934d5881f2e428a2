#pragma once

#include "pipeline/WhisperRecognitionTask.h"
#include "platform/SpeechRecognizer.h"

#include <functional>
#include <memory>

class ModelManager;

// The live recogniser: Whisper (every dictation language, on the device) when
// the Whisper Base model is installed and loads, the fallback recognition
// (pocketsphinx) otherwise. Decided, and logged, each time a recogniser is
// created, so a model that goes missing or fails to load mid-dictation gives
// way to the fallback at the next restart. The model is the one the
// refinement pass loads: both decode it with states of their own.
class WhisperSpeechRecognition : public SpeechRecognition {
public:
    // The installed Whisper Base model file; empty when there is none.
    using InstalledModel = std::function<QString()>;

    // The Whisper Base file when the manager counts it installed.
    static InstalledModel installedBase(ModelManager &models);

    // openDecoder: whisper.cpp on `models` when none is given.
    WhisperSpeechRecognition(SpeechRecognition &fallback, InstalledModel baseModel,
                             WhisperCppEngineAdapter::ModelCache &models = WhisperCppEngineAdapter::ModelCache::shared(),
                             WhisperRecognitionTask::OpenDecoder openDecoder = {});
    // Cancels the running recognitions and waits for their workers.
    ~WhisperSpeechRecognition() override;

    // Whisper needs no permission; the fallback's answer stands for both.
    QFuture<SpeechAuthorizationStatus> requestAuthorization() override;
    std::unique_ptr<SpeechRecognizer> recognizer(const QString &localeIdentifier) override;

private:
    SpeechRecognition &m_fallback;
    InstalledModel m_baseModel;
    WhisperCppEngineAdapter::ModelCache &m_models;
    WhisperRecognitionTask::OpenDecoder m_openDecoder;
    std::shared_ptr<WhisperRecognitionTask::Workers> m_workers;
};
