#include "WhisperOfflineTranscriptionService.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/TranscriptionServiceError.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr char kTag[] = "DEBUG-85dc62";

// Whisper Base for every preference but an explicit Whisper Large v3.
const ModelDescriptor *chooseModel(ASRModelPreference preference, bool baseInstalled, bool largeInstalled)
{
    const ModelDescriptor &base = ModelDescriptor::whisperBase();
    const ModelDescriptor &large = ModelDescriptor::whisperLargeV3();
    switch (preference) {
    case ASRModelPreference::whisperLargeV3:
        return largeInstalled ? &large : nullptr;
    case ASRModelPreference::whisperBase:
        return baseInstalled ? &base : nullptr;
    default:
        return baseInstalled ? &base : &large;
    }
}

template <typename T>
std::shared_ptr<QPromise<T>> startedPromise()
{
    auto promise = std::make_shared<QPromise<T>>();
    promise->start();
    return promise;
}
} // namespace

WhisperOfflineTranscriptionService::WhisperOfflineTranscriptionService(ModelManager &modelManager,
                                                                       std::unique_ptr<WhisperEngineAdapter> engine,
                                                                       MonotonicClock &clock, QObject *parent)
    : QObject(parent)
    , m_modelManager(modelManager)
    , m_engine(std::move(engine))
    , m_clock(clock)
{
    m_preferredASRModel = ASRModelPreference::auto_;
}

WhisperOfflineTranscriptionService::~WhisperOfflineTranscriptionService() = default;

QFuture<void> WhisperOfflineTranscriptionService::start(LanguageOption language)
{
    m_language = language;
    m_finalText.clear();

    const QDir directory(m_modelManager.modelsDirectory());
    const QString largePath = directory.filePath(ModelDescriptor::whisperLargeV3().id);
    const QString basePath = directory.filePath(ModelDescriptor::whisperBase().id);
    const bool largeInstalled = QFileInfo::exists(largePath);
    const bool baseInstalled = QFileInfo::exists(basePath);
    if (!largeInstalled && !baseInstalled) {
        logLine(kTag, "Transcription.start failed: no installed ASR model");
        return QtFuture::makeExceptionalFuture(TranscriptionServiceError::missingASRModel());
    }
    const ModelDescriptor *model = chooseModel(m_preferredASRModel, baseInstalled, largeInstalled);
    if (!model) {
        logLine(kTag, QStringLiteral("Transcription.start failed: requested ASR model unavailable preference=%1")
                          .arg(Enums::toString(m_preferredASRModel)));
        return QtFuture::makeExceptionalFuture(TranscriptionServiceError::missingASRModel());
    }
    const QString path = directory.filePath(model->id);
    m_activeASRModelName = model->name;
    logLine(kTag, QStringLiteral("Transcription.start model=%1 modelURL=%2 exists=%3")
                      .arg(model->name, path, QFileInfo::exists(path) ? QStringLiteral("1") : QStringLiteral("0")));
    return m_engine->loadModel(path);
}

QFuture<void> WhisperOfflineTranscriptionService::appendAudioFrames(const AudioSamples &frames)
{
    auto promise = Futures::startedPromise<void>();
    Futures::whenFinished(m_engine->ingest(frames, m_language), this,
                          [this, promise](QFuture<std::optional<QString>> ingest) {
                              if (const std::exception_ptr error = Futures::failureOf(ingest)) {
                                  const QString description = describeException(error);
                                  logLine(kTag, QStringLiteral("Transcription.appendAudioFrames error=%1").arg(description));
                                  if (m_onPartialText)
                                      m_onPartialText(QStringLiteral("Transcription error: ") + description);
                              } else if (const std::optional<QString> hypothesis = ingest.result()) {
                                  m_finalText = *hypothesis;
                                  logLine(kTag, QStringLiteral("Transcription.partial=%1").arg(*hypothesis));
                                  if (m_onPartialText)
                                      m_onPartialText(*hypothesis);
                              }
                              promise->finish();
                          });
    return promise->future();
}

QFuture<QString> WhisperOfflineTranscriptionService::stopAndFinalize()
{
    auto promise = Futures::startedPromise<QString>();
    // Whichever ends first answers; the other finds the promise finished.
    auto answer = [this, promise] {
        if (promise->future().isFinished())
            return;
        promise->addResult(m_finalText);
        promise->finish();
    };
    QFuture<QString> finalize = m_engine->finalize(m_language);
    Futures::whenFinished(finalize, this, [this, promise, answer](QFuture<QString> finalize) {
        if (promise->future().isFinished())
            return; // too late: the time limit has already answered
        if (const std::exception_ptr error = Futures::failureOf(finalize)) {
            logLine(kTag, QStringLiteral("Transcription.stopAndFinalize error=%1, using last partial")
                              .arg(describeException(error)));
        } else if (const QString text = finalize.result(); !text.isEmpty()) {
            m_finalText = text;
        }
        answer();
    });
    m_clock.callAfter(finalizeTimeLimit, this, [this, promise, answer, finalize]() mutable {
        if (promise->future().isFinished())
            return;
        logLine(kTag, QStringLiteral("Transcription.stopAndFinalize timed out, using last partial: %1").arg(m_finalText));
        answer();
        // Stops the engine's decode, so the next operation does not wait for a result nobody reads.
        finalize.cancel();
    });
    return promise->future();
}
