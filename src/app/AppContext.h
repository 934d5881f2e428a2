#pragma once

#include <QObject>

#include <memory>

class AdaptiveLearningEngine;
class CloudUsageTracker;
class DictationSessionCoordinator;
class HybridRealtimeTranscriptionService;
class HybridTranscriberRefinement;
class MacAudioCaptureService;
class ModelManager;
class MonotonicClock;
class OfflineRewriteService;
class Platform;
class TextInjectionService;
class TranscriptPostProcessor;

// The composition root: builds every long-lived service of the application
// on the given platform, wires them together and owns them until it is
// destroyed. The platform must outlive it.
class AppContext : public QObject {
    Q_OBJECT
public:
    explicit AppContext(Platform &platform, QObject *parent = nullptr);
    ~AppContext() override;

    Platform &platform() const { return m_platform; }
    MonotonicClock &clock() const { return m_clock; }
    ModelManager &modelManager() const { return *m_modelManager; }
    TextInjectionService &textInjection() const { return *m_textInjection; }
    HybridRealtimeTranscriptionService &transcriber() const { return *m_transcriber; }
    AdaptiveLearningEngine &learningEngine() const { return *m_learningEngine; }
    CloudUsageTracker &usageTracker() const { return m_usageTracker; }
    DictationSessionCoordinator &coordinator() const { return *m_coordinator; }

private:
    Platform &m_platform;
    MonotonicClock &m_clock;
    CloudUsageTracker &m_usageTracker;
    std::unique_ptr<ModelManager> m_modelManager;
    std::unique_ptr<MacAudioCaptureService> m_audioCapture;
    std::unique_ptr<HybridRealtimeTranscriptionService> m_transcriber;
    std::unique_ptr<HybridTranscriberRefinement> m_refinement;
    std::unique_ptr<TextInjectionService> m_textInjection;
    std::unique_ptr<AdaptiveLearningEngine> m_learningEngine;
    std::unique_ptr<OfflineRewriteService> m_rewriteService;
    std::unique_ptr<TranscriptPostProcessor> m_postProcessor;
    // last: it uses everything above
    std::unique_ptr<DictationSessionCoordinator> m_coordinator;
};
