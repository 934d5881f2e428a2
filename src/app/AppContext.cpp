#include "AppContext.h"

#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"
#include "app/MenubarViewModel.h"
#include "app/SpeechVoiceSettings.h"
#include "app/UiModule.h"
#include "app/ViewServices.h"
#include "models/CoreMLEncoderDownloader.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/GlobalHotkeyService.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"
#include "pipeline/MacAudioCaptureService.h"
#include "pipeline/OfflineRewriteService.h"
#include "pipeline/TextInjectionService.h"
#include "pipeline/TranscriptPostProcessor.h"
#include "pipeline/WhisperCppEngineAdapter.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"
#include "pipeline/WhisperSpeechRecognition.h"
#include "platform/Platform.h"
#include "profile/AdaptiveLearningEngine.h"
#include "profile/InsightEngine.h"
#include "profile/PrivacyPreferences.h"
#include "profile/VoiceProfileStore.h"
#include "speech/F5TTSService.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"

#include <QDir>
#include <QQmlEngine>

QUrl AppContext::rebased(const QUrl &url, const QUrl &base)
{
    QUrl result = base;
    QString prefix = base.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    result.setPath(prefix + url.path());
    result.setQuery(url.query());
    return result;
}

QUrl AppContext::downloadSource(const QUrl &url) const
{
    return m_options.downloadBaseURL ? rebased(url, *m_options.downloadBaseURL) : url;
}

AppContext::AppContext(Platform &platform, Options options, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_clock(MonotonicClock::system())
    , m_options(std::move(options))
{
    m_usageTracker = std::make_unique<CloudUsageTracker>(&platform.settings());
    CloudUsageTracker::setShared(m_usageTracker.get());
    m_privacyPreferences = std::make_unique<PrivacyPreferences>(&platform.settings());
    PrivacyPreferences::setShared(m_privacyPreferences.get());
    m_profileStore = std::make_unique<VoiceProfileStore>(VoiceProfileStore::defaultDatabasePath(platform.paths()));
    VoiceProfileStore::setShared(m_profileStore.get());
    m_insightEngine = std::make_unique<InsightEngine>(&platform.lexicalTagger());
    InsightEngine::setShared(m_insightEngine.get());

    // The dictation pipeline.
    const WhisperModelFamily whisperModels = m_options.whisperModels.value_or(WhisperModelFamily::published());
    m_modelManager = std::make_unique<ModelManager>(platform.paths(), whisperModels);
    m_whisperModels = std::make_unique<WhisperCppEngineAdapter::ModelCache>(whisperModels);
    m_audioCapture = std::make_unique<MacAudioCaptureService>(platform.audioInput());
    m_liveRecognition = std::make_unique<WhisperSpeechRecognition>(
        platform.speechRecognition(), WhisperSpeechRecognition::installedBase(*m_modelManager), *m_whisperModels);
    auto cloud = std::make_unique<CloudflareTranscriptionService>(m_clock);
    logLine("DEBUG-85dc62", "WhisperEngineFactory using whisper.cpp backend");
    auto engine = std::make_unique<WhisperCppEngineAdapter>(m_clock, WhisperCppEngineAdapter::activeProcessorCount,
                                                            *m_whisperModels);
    auto whisper = std::make_unique<WhisperOfflineTranscriptionService>(*m_modelManager, std::move(engine), m_clock);
    m_transcriber = std::make_unique<HybridRealtimeTranscriptionService>(
        *m_modelManager, std::move(whisper), std::move(cloud), *m_liveRecognition, m_clock);
    m_textInjection = std::make_unique<TextInjectionService>(platform, m_clock);
    m_learningEngine = std::make_unique<AdaptiveLearningEngine>(*m_profileStore, *m_insightEngine);
    m_rewriteService = std::make_unique<OfflineRewriteService>(m_modelManager.get());
    m_postProcessor = std::make_unique<TranscriptPostProcessor>(
        m_modelManager.get(), std::make_unique<OfflineRewriteService>(m_modelManager.get()));
    m_coordinator = std::make_unique<DictationSessionCoordinator>(DictationSessionCoordinator::Services{
        *m_audioCapture, *m_transcriber, *m_transcriber, *m_textInjection, *m_learningEngine, *m_postProcessor,
        *m_rewriteService, platform.workspace(), *m_usageTracker, *m_modelManager, m_clock});

    // Speech output and the downloads.
    m_selectionReader = std::make_unique<SelectionReader>(platform.workspace(), platform.accessibility(),
                                                          platform.pasteboard(), *m_textInjection, m_clock);
    TextToSpeechService::Sources voices = TextToSpeechService::Sources::defaults();
    voices = {downloadSource(voices.modelDownloadURL), downloadSource(voices.voicesDownloadURL)};
    m_textToSpeech = std::make_unique<TextToSpeechService>(TextToSpeechService::Collaborators{
        platform.settings(), platform.audioOutput(), platform.systemSpeechSynthesizer(), platform.neuralVoiceEngine(),
        *m_selectionReader, m_modelManager->modelsDirectory(), voices});
    TextToSpeechService::setShared(m_textToSpeech.get());
    F5TTSService::Sources pack = F5TTSService::Sources::defaults();
    pack = {downloadSource(pack.vocoder), downloadSource(pack.model)};
    m_voicePack = std::make_unique<F5TTSService>(
        QDir(m_modelManager->modelsDirectory()).filePath(QStringLiteral("F5TTS")), pack);
    F5TTSService::setShared(m_voicePack.get());
    QList<CoreMLEncoderDownloader::Encoder> encoders = CoreMLEncoderDownloader::defaultEncoders();
    for (CoreMLEncoderDownloader::Encoder &encoder : encoders)
        encoder.archiveURL = downloadSource(encoder.archiveURL);
    m_encoderFetcher = std::make_unique<CoreMLEncoderDownloader>(*m_modelManager, encoders);
    for (ModelDescriptor model : MenubarViewModel::autoDownloadCatalogue()) {
        model.downloadURL = downloadSource(model.downloadURL);
        m_launchDownloads.append(model);
    }

    // The interface's services.
    m_hotkeys = std::make_unique<GlobalHotkeyService>(platform.keyEventSource(), platform.accessibility(), m_clock);
    GlobalHotkeyService::setShared(m_hotkeys.get());
    const ModelDownloadService::Factory makeDownloadService = [this] {
        return std::make_unique<ModelDownloadService>(m_clock);
    };
    m_viewModel = std::make_unique<MenubarViewModel>(MenubarViewModel::Collaborators{
        *m_coordinator, *m_modelManager, *m_profileStore, platform.pasteboard(), platform.settings(),
        makeDownloadService});
    m_voiceSettings = std::make_unique<SpeechVoiceSettings>(*m_textToSpeech, *m_voicePack, platform.neuralVoiceEngine());
    QList<ModelDescriptor> catalogue = ModelDescriptor::all();
    for (ModelDescriptor &model : catalogue)
        model.downloadURL = downloadSource(model.downloadURL);
    m_viewServices = std::make_unique<ViewServices>(ViewServices::Collaborators{
        *m_profileStore, *m_modelManager, makeDownloadService, platform.loginItems(), platform.accessibility(),
        *m_voiceSettings, catalogue});
}

AppContext::~AppContext()
{
    // The key grabs go before the services their handlers reach; the rest
    // goes in reverse order of construction.
    m_hotkeys->stop();
}

QQmlEngine &AppContext::qmlEngine()
{
    if (!m_qmlEngine) {
        m_qmlEngine = std::make_unique<QQmlEngine>();
        UiModule::install(*m_qmlEngine);
    }
    return *m_qmlEngine;
}

DictationOverlayPanel &AppContext::overlayPanel()
{
    if (!m_overlayPanel) {
        m_overlayModel = std::make_unique<DictationOverlayModel>();
        m_overlayModel->follow(*m_coordinator);
        const std::function<bool()> compositing = m_options.compositing ? m_options.compositing : [] { return false; };
        m_overlayPanel = std::make_unique<DictationOverlayPanel>(qmlEngine(), *m_overlayModel, compositing,
                                                                 m_options.showOnEveryWorkspace);
    }
    return *m_overlayPanel;
}
