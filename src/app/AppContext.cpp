#include "AppContext.h"

#include "models/ModelManager.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "pipeline/HybridTranscriberRefinement.h"
#include "pipeline/MacAudioCaptureService.h"
#include "pipeline/OfflineRewriteService.h"
#include "pipeline/TextInjectionService.h"
#include "pipeline/TranscriptPostProcessor.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "platform/Platform.h"
#include "profile/AdaptiveLearningEngine.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"

AppContext::AppContext(Platform &platform, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_clock(MonotonicClock::system())
    , m_usageTracker(CloudUsageTracker::shared())
    , m_modelManager(std::make_unique<ModelManager>(platform.paths()))
    , m_audioCapture(std::make_unique<MacAudioCaptureService>(platform.audioInput()))
{
    auto cloud = std::make_unique<CloudflareTranscriptionService>();
    const CloudflareTranscriptionService *cloudService = cloud.get();
    logLine("DEBUG-85dc62", "WhisperEngineFactory using whisper.cpp backend");
    auto whisper = std::make_unique<WhisperOfflineTranscriptionService>(
        *m_modelManager, std::make_unique<WhisperCppEngineAdapter>(m_clock), m_clock);
    m_transcriber = std::make_unique<HybridRealtimeTranscriptionService>(
        *m_modelManager, std::move(whisper), std::move(cloud), platform.speechRecognition(), m_clock);
    m_refinement = std::make_unique<HybridTranscriberRefinement>(*m_transcriber, cloudService);
    m_textInjection = std::make_unique<TextInjectionService>(platform.workspace(), platform.accessibility(),
                                                             platform.pasteboard(), platform.keySynthesizer(), m_clock);
    m_learningEngine = std::make_unique<AdaptiveLearningEngine>();
    m_rewriteService = std::make_unique<OfflineRewriteService>(m_modelManager.get());
    m_postProcessor = std::make_unique<TranscriptPostProcessor>(
        m_modelManager.get(), std::make_unique<OfflineRewriteService>(m_modelManager.get()));
    m_coordinator = std::make_unique<DictationSessionCoordinator>(DictationSessionCoordinator::Services{
        *m_audioCapture, *m_transcriber, *m_refinement, *m_textInjection, *m_learningEngine, *m_postProcessor,
        *m_rewriteService, platform.workspace(), m_usageTracker, *m_modelManager, m_clock});
}

AppContext::~AppContext() = default;
