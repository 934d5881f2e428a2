#include "AppDelegate.h"

#include "app/AppContext.h"
#include "app/DictationOverlayPanel.h"
#include "app/MenubarViewModel.h"
#include "app/OverlayPanel.h"
#include "models/CoreMLEncoderDownloader.h"
#include "models/ModelManager.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/GlobalHotkeyService.h"
#include "pipeline/TextInjectionService.h"
#include "platform/Accessibility.h"
#include "platform/Platform.h"
#include "profile/VoiceProfileStore.h"
#include "speech/TextToSpeechService.h"
#include "support/Handover.h"
#include "support/Log.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace {
const char *const kTag = "AppDelegate";
} // namespace

AppDelegate::AppDelegate(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_services(std::move(collaborators))
{
}

AppDelegate::AppDelegate(AppContext &context, std::function<void()> promptForAccessibility,
                         std::function<void(const QStringList &)> tellChordsUnavailable,
                         std::function<void()> tellHotkeysUnavailable, QObject *parent)
    : AppDelegate(Collaborators{context.viewModel(), context.hotkeys(), context.textInjection(), context.textToSpeech(),
                                context.encoderFetcher(), context.platform().accessibility(), context.clock(),
                                [&context]() -> OverlayPanel & { return context.overlayPanel(); },
                                context.launchDownloads(), std::move(promptForAccessibility),
                                std::move(tellChordsUnavailable), std::move(tellHotkeysUnavailable)},
                  parent)
{
}

DictationSessionCoordinator &AppDelegate::coordinator() const
{
    return *m_services.viewModel.coordinator();
}

void AppDelegate::onMainQueue(std::function<void()> action)
{
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

void AppDelegate::applicationDidFinishLaunching()
{
    logLine(kTag, "applicationDidFinishLaunching");
    // No dock here: the windows are tool windows without a taskbar entry.
    if (!m_services.accessibility.isProcessTrusted()) {
        logLine(kTag, "Requesting Accessibility permission");
        if (m_services.promptForAccessibility)
            m_services.promptForAccessibility();
    }
    m_overlayPanel = &m_services.makeOverlayPanel();

    GlobalHotkeyService &hotkeys = m_services.hotkeys;
    const QPointer<AppDelegate> self(this);
    hotkeys.onToggle = [self] {
        logLine(kTag, "Toggle hotkey (Fn+Space) triggered!");
        if (self)
            self->onMainQueue([self] { self->handleToggle(); });
    };
    hotkeys.onHoldStart = [self] {
        logLine(kTag, "Hold START (Option+Space)");
        if (self)
            self->onMainQueue([self] { self->handleHoldStart(); });
    };
    hotkeys.onHoldRelease = [self] {
        logLine(kTag, "Hold RELEASE (Option+Space)");
        if (self)
            self->onMainQueue([self] { self->handleHoldRelease(); });
    };
    hotkeys.onFallbackPaste = [self] {
        logLine(kTag, "Fallback paste (Cmd+Ctrl+V)");
        if (self)
            self->onMainQueue([self] { self->handleFallbackPaste(); });
    };
    TextToSpeechService *speech = &m_services.speech;
    hotkeys.onSummarizeAndSpeak = [self, speech] {
        logLine(kTag, "Summarize & speak (Cmd+Ctrl+S)");
        if (self)
            self->onMainQueue([speech] { speech->summarizeSelectionAndSpeak(); });
    };
    hotkeys.onSpeakAgain = [self, speech] {
        logLine(kTag, "Speak again (Cmd+Ctrl+R)");
        if (self)
            self->onMainQueue([speech] { speech->speakAgain(); });
    };
    hotkeys.start();
    // A chord that would do nothing when pressed: say so once.
    if (!hotkeys.isAvailable()) {
        if (m_services.tellHotkeysUnavailable)
            m_services.tellHotkeysUnavailable();
    } else {
        const QStringList taken = hotkeys.unavailableChords();
        m_services.viewModel.setUnavailableChords(taken);
        if (!taken.isEmpty() && m_services.tellChordsUnavailable)
            m_services.tellChordsUnavailable(taken);
    }

    if (!m_services.viewModel.hasCompletedOnboarding())
        m_services.viewModel.setShowOnboarding(true);
    m_services.viewModel.onDictationStateChanged = [self](bool isDictating) {
        if (self)
            self->handleDictationStateChanged(isDictating);
    };
    connect(&coordinator(), &DictationSessionCoordinator::startFailed, this, &AppDelegate::handleStartFailed);
    logLine(kTag, "Setup complete (parallel mode, auto-download enabled)");

    // Downloads and file checks wait until the event loop runs, so the
    // hotkeys answer from the start.
    QTimer::singleShot(0, this, &AppDelegate::prepareModelsAndVoices);
}

void AppDelegate::prepareModelsAndVoices()
{
    coordinator().modelManager().refreshInstalledModels();
    m_services.speech.prepareOnLaunch();
    m_services.encoderFetcher.downloadMissingEncoders();
    m_services.viewModel.autoDownloadModels(m_services.launchDownloads);
}

void AppDelegate::tellWhenHistoryIsNotSaved(VoiceProfileStore &store, std::function<void(const QString &)> tell)
{
    const QPointer<AppDelegate> self(this);
    // Called on the store's queue.
    store.setOnWriteFailed([self, tell = std::move(tell)](const QString &reason) {
        Handover::post(QCoreApplication::instance(), [self, tell, reason] {
            if (self && !std::exchange(self->m_toldHistoryNotSaved, true))
                tell(QStringLiteral("Your dictation history cannot be saved (%1).").arg(reason));
        });
    });
}

void AppDelegate::applicationWillTerminate()
{
    m_services.hotkeys.stop();
    // The profile store is drained when it goes, after this.
    coordinator().recordUnfinishedDictation();
}

void AppDelegate::handleToggle()
{
    coordinator().setActiveDictationMode(DictationMode::toggle);
    startFromHotkey([this] { coordinator().toggleDictation(); });
}

void AppDelegate::handleHoldStart()
{
    // A dictation already under way (or starting) keeps its own mode.
    if (m_services.viewModel.isDictating() || coordinator().isStarting())
        return;
    coordinator().setActiveDictationMode(DictationMode::hold);
    startFromHotkey([this] { coordinator().startDictation(); });
}

void AppDelegate::startFromHotkey(const std::function<void()> &action)
{
    const bool starts = !m_services.viewModel.isDictating() && !coordinator().isStarting();
    // Set first: a start may fail before the action returns.
    if (starts)
        m_hotkeyStart = true;
    action();
    if (!coordinator().isStarting())
        m_hotkeyStart = false;
}

void AppDelegate::handleStartFailed()
{
    if (!std::exchange(m_hotkeyStart, false) || !m_overlayPanel)
        return;
    m_overlayPanel->show();
    scheduleOverlayHideCheck(m_services.clock.now(), ++m_hideChain);
}

void AppDelegate::handleHoldRelease()
{
    // A start still under way stops as soon as it has finished.
    if (m_services.viewModel.isDictating() || coordinator().isStarting())
        coordinator().stopDictation();
}

void AppDelegate::handleFallbackPaste()
{
    const QString text = coordinator().lastTranscribedText();
    if (text.isEmpty()) {
        logLine(kTag, "No transcription to paste");
        return;
    }
    m_services.textInjector.inject(text);
}

void AppDelegate::handleDictationStateChanged(bool isDictating)
{
    logLine(kTag, QStringLiteral("Dictation state: %1").arg(isDictating ? 1 : 0));
    if (isDictating)
        m_hotkeyStart = false;
    onMainQueue([this, isDictating] {
        if (isDictating) {
            if (m_overlayPanel)
                m_overlayPanel->show();
            return;
        }
        scheduleOverlayHideCheck(m_services.clock.now(), ++m_hideChain);
    });
}

bool AppDelegate::isBusy() const
{
    const DictationSessionCoordinator &c = coordinator();
    return c.isProcessing() || c.isRefining() || c.isLargeModelProcessing() || c.isPolishing();
}

void AppDelegate::scheduleOverlayHideCheck(MonotonicClock::Duration startedAt, quint64 chain)
{
    m_services.clock.callAfter(hideCheckInterval, this,
                               [this, startedAt, chain] { overlayHideCheck(startedAt, chain, false); });
}

void AppDelegate::overlayHideCheck(MonotonicClock::Duration startedAt, quint64 chain, bool delayed)
{
    // A newer stop runs its own chain; a new dictation owns the overlay.
    if (chain != m_hideChain || m_services.viewModel.isDictating() || coordinator().isStarting())
        return;
    // Stages still running (or begun during the delay) keep it up, within the limit.
    if (isBusy() && m_services.clock.now() - startedAt < hideCheckLimit) {
        scheduleOverlayHideCheck(startedAt, chain);
        return;
    }
    if (!delayed)
        m_services.clock.callAfter(hideDelay, this, [this, startedAt, chain] { overlayHideCheck(startedAt, chain, true); });
    else if (m_overlayPanel)
        m_overlayPanel->hide();
}
