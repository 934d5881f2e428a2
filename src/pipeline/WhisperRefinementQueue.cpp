#include "WhisperRefinementQueue.h"

#include "models/CoreMLEncoderDownloader.h"
#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QFileInfo>

namespace {
constexpr char kHybridTag[] = "Hybrid";

qsizetype characters(const QString &text)
{
    return TextUtils::graphemeCount(text);
}
} // namespace

WhisperTurn::WhisperTurn(WhisperRefinementQueue *queue)
    : m_queue(queue)
{
}

WhisperTurn::~WhisperTurn()
{
    if (m_queue)
        m_queue->release();
}

WhisperRefinementQueue::WhisperRefinementQueue(WhisperOfflineTranscriptionService &whisper,
                                               const ModelManager &modelManager, QObject *parent)
    : QObject(parent)
    , m_whisper(whisper)
    , m_modelManager(modelManager)
{
}

QFuture<WhisperRefinementQueue::Turn> WhisperRefinementQueue::takeTurn()
{
    QPromise<Turn> waiter;
    QFuture<Turn> granted = waiter.future();
    waiter.start();
    m_waiting.push_back(std::move(waiter));
    grantNext();
    return granted;
}

void WhisperRefinementQueue::release()
{
    m_busy = false;
    // Not from inside the destructor of whoever let go: the next user runs from
    // the event loop.
    QMetaObject::invokeMethod(this, &WhisperRefinementQueue::grantNext, Qt::QueuedConnection);
}

void WhisperRefinementQueue::grantNext()
{
    if (m_busy || m_waiting.empty())
        return;
    QPromise<Turn> next = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_busy = true;
    next.addResult(Turn(new WhisperTurn(this)));
    next.finish();
}

void WhisperRefinementQueue::refine(DictationId dictation, AudioSamples frames, LanguageOption language,
                                    bool largeModelEnabled)
{
    if (frames.isEmpty()) {
        logLine(kHybridTag, "No frames for Whisper refinement");
        report(m_onBaseModelFailed, dictation, QStringLiteral("Skipped: no audio was recorded"));
        return;
    }
    takeTurn().then(this, [this, dictation, frames, language, largeModelEnabled](const Turn &turn) {
        logLine(kHybridTag, QStringLiteral("Running Whisper Base refinement on %1 frames (%2s)")
                                .arg(frames.size())
                                .arg(double(frames.size()) / kSampleRate, 0, 'f', 1));
        m_followed.follow(runPass(ASRModelPreference::whisperBase, frames, language))
            .then(this,
                  [this, dictation, turn, frames, language, largeModelEnabled](const QString &base) {
                      if (base.isEmpty()) {
                          // nothing to improve on: the Large pass would only cost minutes
                          logLine(kHybridTag, "Whisper Base returned no text");
                          report(m_onBaseModelFailed, dictation, QStringLiteral("No words recognised"));
                          return;
                      }
                      logLine(kHybridTag, QStringLiteral("Whisper Base refined: %1 chars").arg(characters(base)));
                      report(m_onRefinedText, dictation, base);
                      if (largeModelEnabled)
                          runLargeStage(dictation, turn, frames, language);
                  })
            .onFailed(this, [this, dictation](const std::exception &error) {
                logLine(kHybridTag, QStringLiteral("Whisper refinement failed: %1").arg(describeException(error)));
                report(m_onBaseModelFailed, dictation, failureNote(ModelDescriptor::whisperBase(), error));
            });
    });
}

void WhisperRefinementQueue::runLargeStage(DictationId dictation, const Turn &turn, const AudioSamples &frames,
                                           LanguageOption language)
{
    if (!isCoreMLEncoderInstalled()) {
        logLine(kHybridTag, "Skipping Whisper Large — Core ML encoder not yet installed (would take 3+ min on "
                            "CPU). Will run once encoder downloads.");
        report(m_onLargeModelFailed, dictation, QStringLiteral("Skipped: its encoder is not installed yet"));
        return;
    }
    logLine(kHybridTag, QStringLiteral("Running Whisper Large v3 on %1 frames").arg(frames.size()));
    m_followed.follow(runPass(ASRModelPreference::whisperLargeV3, frames, language))
        .then(this,
              [this, dictation, turn](const QString &large) {
                  if (!large.isEmpty()) {
                      logLine(kHybridTag, QStringLiteral("Whisper Large refined: %1 chars").arg(characters(large)));
                      report(m_onLargeModelText, dictation, large);
                  } else {
                      logLine(kHybridTag, "Whisper Large returned empty, falling back");
                      report(m_onLargeModelFailed, dictation, QStringLiteral("No words recognised"));
                  }
              })
        .onFailed(this, [this, dictation](const std::exception &error) {
            logLine(kHybridTag, QStringLiteral("Whisper Large failed: %1, falling back to Base result")
                                    .arg(describeException(error)));
            report(m_onLargeModelFailed, dictation, failureNote(ModelDescriptor::whisperLargeV3(), error));
        });
}

QFuture<QString> WhisperRefinementQueue::runPass(ASRModelPreference model, const AudioSamples &frames,
                                                 LanguageOption language)
{
    m_whisper.setPreferredASRModel(model);
    QFuture<void> fed = m_followed.follow(m_whisper.start(language))
                            .then(this, [this, frames] { return m_whisper.appendAudioFrames(frames); })
                            .unwrap();
    return Futures::cancellationAsFailure(
        m_followed.follow(fed).then(this, [this] { return m_whisper.finalTranscript(); }).unwrap());
}

void WhisperRefinementQueue::report(const TextHandler &handler, DictationId dictation, const QString &text)
{
    if (!handler)
        return;
    QMetaObject::invokeMethod(this, [handler, dictation, text] { handler(dictation, text); }, Qt::QueuedConnection);
}

QString WhisperRefinementQueue::failureNote(const ModelDescriptor &model, const std::exception &error) const
{
    if (!m_modelManager.hasModelFile(model))
        return QStringLiteral("Skipped: not installed");
    return QStringLiteral("Failed: ") + describeException(error);
}

bool WhisperRefinementQueue::isCoreMLEncoderInstalled() const
{
    const std::optional<QString> directory = m_modelManager.containerModelsDirectory();
    const std::optional<QString> encoder =
        CoreMLEncoderDownloader::encoderNameFor(ModelDescriptor::whisperLargeV3().id);
    return directory && encoder && QFileInfo::exists(QDir(*directory).filePath(*encoder));
}
