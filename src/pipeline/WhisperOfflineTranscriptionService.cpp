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

    const bool largeInstalled = m_modelManager.hasModelFile(ModelDescriptor::whisperLargeV3());
    const bool baseInstalled = m_modelManager.hasModelFile(ModelDescriptor::whisperBase());
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
    const QString path = QDir(m_modelManager.modelsDirectory()).filePath(model->id);
    m_activeASRModelName = model->name;
    logLine(kTag, QStringLiteral("Transcription.start model=%1 modelURL=%2 exists=%3")
                      .arg(model->name, path, QFileInfo::exists(path) ? QStringLiteral("1") : QStringLiteral("0")));
    return m_engine->loadModel(path);
}

QFuture<void> WhisperOfflineTranscriptionService::appendAudioFrames(const AudioSamples &frames)
{
    return m_followed.follow(m_engine->ingest(frames, m_language))
        .then(this,
              [this](const std::optional<QString> &hypothesis) {
                  if (!hypothesis)
                      return;
                  m_finalText = *hypothesis;
                  logLine(kTag, QStringLiteral("Transcription.partial=%1").arg(loggedText(*hypothesis)));
                  if (m_onPartialText)
                      m_onPartialText(*hypothesis);
              })
        .onFailed(this, [this](const std::exception &error) {
            const QString description = describeException(error);
            logLine(kTag, QStringLiteral("Transcription.appendAudioFrames error=%1").arg(description));
            if (m_onPartialText)
                m_onPartialText(QStringLiteral("Transcription error: ") + description);
        });
}

QFuture<QString> WhisperOfflineTranscriptionService::finalTranscript()
{
    QFuture<QString> decoding = m_engine->finalize(m_language);
    return m_followed.follow(QtFuture::whenAny(decoding, m_clock.sleep(finalizeTimeLimit, this)))
        .then(this, [decoding](const std::variant<QFuture<QString>, QFuture<void>> &first) mutable {
            if (first.index() == 1) {
                decoding.cancel(); // the engine may stop the decode and free itself
                throw TranscriptionServiceError::finalizeTimedOut();
            }
            if (const std::exception_ptr error = Futures::failureOf(decoding))
                std::rethrow_exception(error);
            return decoding.result();
        });
}

QFuture<QString> WhisperOfflineTranscriptionService::stopAndFinalize()
{
    // A cancelled decode has no text for .onFailed() to pass on: it is a failure.
    return Futures::cancellationAsFailure(finalTranscript())
        .then(this,
              [this](const QString &text) {
                  if (!text.isEmpty())
                      m_finalText = text;
                  return m_finalText;
              })
        .onFailed(this,
                  [this](const TranscriptionServiceError &) {
                      logLine(kTag, QStringLiteral("Transcription.stopAndFinalize timed out, using last partial: %1")
                                        .arg(loggedText(m_finalText)));
                      return m_finalText;
                  })
        .onFailed(this,
                  [this](const std::exception &error) {
                      logLine(kTag, QStringLiteral("Transcription.stopAndFinalize error=%1, using last partial")
                                        .arg(describeException(error)));
                      return m_finalText;
                  });
}
