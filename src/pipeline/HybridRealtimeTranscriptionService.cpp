#include "HybridRealtimeTranscriptionService.h"

#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Log.h"

namespace {
constexpr char kHybridTag[] = "Hybrid";
} // namespace

HybridRealtimeTranscriptionService::HybridRealtimeTranscriptionService(
    ModelManager &modelManager, std::unique_ptr<WhisperOfflineTranscriptionService> whisperService,
    std::unique_ptr<CloudflareTranscriptionService> cloudService, SpeechRecognition &speechRecognition,
    MonotonicClock &clock, QObject *parent)
    : QObject(parent)
    , m_whisperService(std::move(whisperService))
    , m_cloudflareService(std::move(cloudService))
    , m_live(speechRecognition, clock)
    , m_refinements(*m_whisperService, modelManager)
{
    m_cloudflareService->setPreferredASRModel(ASRModelPreference::cloudflareWhisper);
    m_live.setOnLiveText([this](const QString &text) { showLiveText(text); });
    // Refinement passes use the Whisper service too; only a Whisper-mode
    // dictation's own live text belongs on screen.
    m_whisperService->setOnPartialText([this](const QString &text) {
        if (m_forwardWhisperPartials)
            showLiveText(text);
    });
    m_cloudflareService->setOnPartialText([this](const QString &text) { postPartialText(text); });
}

std::unique_ptr<HybridRealtimeTranscriptionService>
HybridRealtimeTranscriptionService::withDefaultEngines(ModelManager &modelManager,
                                                       SpeechRecognition &speechRecognition, MonotonicClock &clock,
                                                       QNetworkAccessManager *network)
{
    logLine("DEBUG-85dc62", "WhisperEngineFactory using whisper.cpp backend");
    auto whisper = std::make_unique<WhisperOfflineTranscriptionService>(
        modelManager, std::make_unique<WhisperCppEngineAdapter>(clock), clock);
    return std::make_unique<HybridRealtimeTranscriptionService>(
        modelManager, std::move(whisper), std::make_unique<CloudflareTranscriptionService>(clock, network),
        speechRecognition, clock);
}

HybridRealtimeTranscriptionService::~HybridRealtimeTranscriptionService() = default;

void HybridRealtimeTranscriptionService::prepareDictation(DictationId dictation, bool largeModelEnabled)
{
    m_live.clearLiveText();
    m_preparedRefinement = {dictation, largeModelEnabled};
}

double HybridRealtimeTranscriptionService::cloudMinutesNotCountedByServer() const
{
    return m_cloudflareService->minutesNotCountedByServer();
}

HybridRealtimeTranscriptionService::Route HybridRealtimeTranscriptionService::routeFor(ASRModelPreference preference)
{
    using P = ASRModelPreference;
    switch (preference) {
    case P::parallelFast:
        return { P::parallelFast, Engine::liveOnly, QStringLiteral("Live Speech + Whisper Base") };
    case P::auto_:
    case P::appleSpeechFast:
        return { P::appleSpeechFast, Engine::liveOnly, QStringLiteral("Live Speech") };
    case P::whisperBase:
    case P::whisperLargeV3:
        return { preference, Engine::whisper, {} };
    case P::whisperMode:
    case P::cloudflareWhisper:
        break;
    }
    return { P::cloudflareWhisper, Engine::cloud, {} };
}

QFuture<void> HybridRealtimeTranscriptionService::start(LanguageOption language)
{
    // A Whisper-mode dictation that never stopped gives the service back here.
    m_whisperTurn.reset();
    m_forwardWhisperPartials = false;
    const quint64 dictation = ++m_dictation;
    m_liveText.clear();
    m_live.beginDictation(language);
    m_history.clear();
    m_currentLanguage = language;
    m_refinement = m_preparedRefinement;

    const ASRModelPreference preference = m_preferredASRModel;
    const Route route = routeFor(preference);
    switch (route.engine) {
    case Engine::liveOnly:
        return m_followed.follow(m_live.start()).then(this, [this, route, dictation] {
            activate(route.mode, route.label, dictation);
            if (route.mode == ASRModelPreference::parallelFast)
                logLine(kHybridTag, "Started PARALLEL mode: Apple Speech live + Whisper Base on stop");
        });
    case Engine::whisper:
        return startWhisperDictation(preference, language, dictation);
    case Engine::cloud:
        break;
    }
    return m_followed.follow(m_cloudflareService->start(language))
        .then(this,
              [this, route, dictation] {
                  activate(route.mode, m_cloudflareService->activeASRModelName(), dictation);
                  // Live text is a bonus here: without it the cloud still transcribes.
                  return m_live.start().onFailed([] {}).onCanceled([] {});
              })
        .unwrap();
}

QFuture<void> HybridRealtimeTranscriptionService::startWhisperDictation(ASRModelPreference preference,
                                                                        LanguageOption language, quint64 dictation)
{
    if (m_refinements.isBusy())
        logLine(kHybridTag, "Whisper is busy with a refinement; the dictation starts when it ends");
    return m_followed.follow(m_refinements.takeTurn())
        .then(this,
              [this, preference, language, dictation](const WhisperRefinementQueue::Turn &turn) {
                  if (dictation != m_dictation)
                      return QtFuture::makeReadyFuture(); // superseded while waiting: the turn goes back
                  m_whisperService->setPreferredASRModel(preference);
                  return m_followed.follow(m_whisperService->start(language))
                      .then(this, [this, turn, preference, dictation] {
                          if (dictation != m_dictation)
                              return;
                          m_whisperTurn = turn;
                          m_forwardWhisperPartials = true;
                          activate(preference, m_whisperService->activeASRModelName(), dictation);
                      });
              })
        .unwrap();
}

void HybridRealtimeTranscriptionService::activate(ASRModelPreference mode, const QString &label, quint64 dictation)
{
    if (dictation != m_dictation)
        return;
    m_activeMode = mode;
    m_activeASRModelName = label;
}

QFuture<void> HybridRealtimeTranscriptionService::appendAudioFrames(const AudioSamples &frames)
{
    m_history.append(frames);
    switch (m_activeMode) {
    case ASRModelPreference::whisperBase:
    case ASRModelPreference::whisperLargeV3:
        if (!m_whisperTurn)
            return QtFuture::makeReadyFuture();
        return m_whisperService->appendAudioFrames(frames);
    case ASRModelPreference::whisperMode:
    case ASRModelPreference::cloudflareWhisper: {
        QFuture<void> cloud = m_cloudflareService->appendAudioFrames(frames);
        m_live.feed(frames);
        return cloud;
    }
    default:
        m_live.feed(frames);
        return QtFuture::makeReadyFuture();
    }
}

QFuture<QString> HybridRealtimeTranscriptionService::stopAndFinalize()
{
    ++m_dictation;
    m_cloudFailure.clear();
    return m_followed.follow(m_live.stop())
        .then(this,
              [this](const QString &best) {
                  switch (m_activeMode) {
                  case ASRModelPreference::parallelFast: {
                      logLine(kHybridTag, "Parallel stop: launching Whisper Base refinement");
                      QMetaObject::invokeMethod(
                          &m_refinements,
                          [this, request = m_refinement, frames = m_history.samples(),
                           language = m_currentLanguage] {
                              m_refinements.refine(request.dictation, frames, language, request.largeModelEnabled);
                          },
                          Qt::QueuedConnection);
                      return QtFuture::makeReadyFuture(best);
                  }
                  case ASRModelPreference::whisperBase:
                  case ASRModelPreference::whisperLargeV3:
                      if (!m_whisperTurn)
                          return QtFuture::makeReadyFuture(QString());
                      return m_followed.follow(m_whisperService->stopAndFinalize()).then(
                          this, [this, turn = std::exchange(m_whisperTurn, {})](const QString &text) {
                              m_forwardWhisperPartials = false;
                              return text;
                          });
                  case ASRModelPreference::cloudflareWhisper:
                      // Whatever went wrong remotely, the live recogniser's words
                      // are not thrown away.
                      m_liveText = best;
                      return m_followed.follow(m_cloudflareService->stopAndFinalize()).then(
                          this, [this, best](const QFuture<QString> &cloud) {
                              if (const std::exception_ptr error = Futures::failureOf(cloud)) {
                                  m_cloudFailure = describeException(error);
                                  logLine(kHybridTag,
                                          QStringLiteral("Cloud transcription failed, using the live text: %1")
                                              .arg(m_cloudFailure));
                                  return best;
                              }
                              const QString text = cloud.result();
                              return text.isEmpty() ? best : text;
                          });
                  default:
                      return QtFuture::makeReadyFuture(best);
                  }
              })
        .unwrap();
}

void HybridRealtimeTranscriptionService::showLiveText(const QString &text)
{
    m_liveText = text;
    postPartialText(text);
}

void HybridRealtimeTranscriptionService::postPartialText(const QString &text)
{
    if (!m_onPartialText)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (m_onPartialText)
                m_onPartialText(text);
        },
        Qt::QueuedConnection);
}
