#pragma once

#include "models/ModelDescriptor.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperModelFamily.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <qwindowdefs.h>

#include <functional>
#include <memory>
#include <optional>

class AdaptiveLearningEngine;
class CloudUsageTracker;
class CoreMLEncoderDownloader;
class DictationOverlayModel;
class DictationOverlayPanel;
class DictationSessionCoordinator;
class F5TTSService;
class GlobalHotkeyService;
class HybridRealtimeTranscriptionService;
class InsightEngine;
class MacAudioCaptureService;
class MenubarViewModel;
class ModelManager;
class MonotonicClock;
class OfflineRewriteService;
class Platform;
class PrivacyPreferences;
class QQmlEngine;
class SelectionReader;
class SpeechVoiceSettings;
class TextInjectionService;
class TextToSpeechService;
class TranscriptPostProcessor;
class ViewServices;
class VoiceProfileStore;
class WhisperSpeechRecognition;

// The composition root: builds every long-lived service of the application
// once, on the given platform, wires them together, installs the process-wide
// instances and owns all of it until it is destroyed (which clears those
// instances again). The platform must outlive it.
class AppContext : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Where downloads go instead of the real hosts (the path of each file
        // is kept below it); none = the real hosts.
        std::optional<QUrl> downloadBaseURL;
        // Whether translucent windows blend with the desktop; none = never.
        std::function<bool()> compositing;
        // Marks a native window to stay on every workspace; none = not done.
        std::function<void(WId)> showOnEveryWorkspace;
        // The shapes a Whisper model may have to be installed and loaded;
        // none = the published models'. Benchmarks stand tiny generated
        // models in for the real ones.
        std::optional<WhisperModelFamily> whisperModels;
    };

    // The environment variable that main() reads into downloadBaseURL.
    static constexpr const char *downloadBaseVariable = "TAVRUNE_DOWNLOAD_BASE_URL";
    // url with its scheme, host and port taken from base and base's path put before its own.
    static QUrl rebased(const QUrl &url, const QUrl &base);

    explicit AppContext(Platform &platform, Options options = {}, QObject *parent = nullptr);
    ~AppContext() override;

    Platform &platform() const { return m_platform; }
    MonotonicClock &clock() const { return m_clock; }
    CloudUsageTracker &usageTracker() const { return *m_usageTracker; }
    PrivacyPreferences &privacyPreferences() const { return *m_privacyPreferences; }
    VoiceProfileStore &profileStore() const { return *m_profileStore; }
    InsightEngine &insightEngine() const { return *m_insightEngine; }
    ModelManager &modelManager() const { return *m_modelManager; }
    TextInjectionService &textInjection() const { return *m_textInjection; }
    HybridRealtimeTranscriptionService &transcriber() const { return *m_transcriber; }
    AdaptiveLearningEngine &learningEngine() const { return *m_learningEngine; }
    DictationSessionCoordinator &coordinator() const { return *m_coordinator; }
    TextToSpeechService &textToSpeech() const { return *m_textToSpeech; }
    F5TTSService &voicePack() const { return *m_voicePack; }
    CoreMLEncoderDownloader &encoderFetcher() const { return *m_encoderFetcher; }
    GlobalHotkeyService &hotkeys() const { return *m_hotkeys; }
    MenubarViewModel &viewModel() const { return *m_viewModel; }
    // The dictionary, snippets and settings views' services (login item included).
    ViewServices &viewServices() const { return *m_viewServices; }
    // Where a download of url really goes: below the configured base, if any.
    QUrl downloadSource(const QUrl &url) const;
    // The models fetched at launch when missing, from the configured host.
    const QList<ModelDescriptor> &launchDownloads() const { return m_launchDownloads; }

    // The interface is made on first use: a launch does not wait for QML.
    QQmlEngine &qmlEngine();
    DictationOverlayPanel &overlayPanel();

private:
    Platform &m_platform;
    MonotonicClock &m_clock;
    Options m_options;
    QList<ModelDescriptor> m_launchDownloads;
    // First: everything below may reach them through their shared accessors.
    std::unique_ptr<CloudUsageTracker> m_usageTracker;
    std::unique_ptr<PrivacyPreferences> m_privacyPreferences;
    std::unique_ptr<VoiceProfileStore> m_profileStore;
    std::unique_ptr<InsightEngine> m_insightEngine;
    std::unique_ptr<ModelManager> m_modelManager;
    // Loaded Whisper models, shared by the live recogniser and the engine.
    std::unique_ptr<WhisperCppEngineAdapter::ModelCache> m_whisperModels;
    std::unique_ptr<MacAudioCaptureService> m_audioCapture;
    // Whisper Base when installed, else the platform's recogniser.
    std::unique_ptr<WhisperSpeechRecognition> m_liveRecognition;
    std::unique_ptr<HybridRealtimeTranscriptionService> m_transcriber;
    std::unique_ptr<TextInjectionService> m_textInjection;
    std::unique_ptr<AdaptiveLearningEngine> m_learningEngine;
    std::unique_ptr<OfflineRewriteService> m_rewriteService;
    std::unique_ptr<TranscriptPostProcessor> m_postProcessor;
    std::unique_ptr<DictationSessionCoordinator> m_coordinator;
    std::unique_ptr<SelectionReader> m_selectionReader;
    std::unique_ptr<TextToSpeechService> m_textToSpeech;
    std::unique_ptr<F5TTSService> m_voicePack;
    std::unique_ptr<CoreMLEncoderDownloader> m_encoderFetcher;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
    std::unique_ptr<MenubarViewModel> m_viewModel;
    std::unique_ptr<SpeechVoiceSettings> m_voiceSettings;
    std::unique_ptr<ViewServices> m_viewServices;
    std::unique_ptr<QQmlEngine> m_qmlEngine;
    std::unique_ptr<DictationOverlayModel> m_overlayModel;
    std::unique_ptr<DictationOverlayPanel> m_overlayPanel;
};
