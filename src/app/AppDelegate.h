#pragma once

#include "models/ModelDescriptor.h"
#include "support/MonotonicClock.h"

#include <QList>
#include <QObject>

#include <chrono>
#include <functional>

class Accessibility;
class AppContext;
class CoreMLEncoderDownloader;
class DictationSessionCoordinator;
class GlobalHotkeyService;
class MenubarViewModel;
class OverlayPanel;
class TextInjector;
class TextToSpeechService;
class VoiceProfileStore;

// Wires the application together at launch: the hotkeys and what they do,
// the dictation overlay and when it hides, and the launch's downloads, which
// start only once the hotkeys are up. Main thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Collaborators {
        MenubarViewModel &viewModel;
        GlobalHotkeyService &hotkeys;
        TextInjector &textInjector;
        TextToSpeechService &speech;
        CoreMLEncoderDownloader &encoderFetcher;
        Accessibility &accessibility;
        // Times the overlay's hide checks.
        MonotonicClock &clock;
        // Builds the overlay at launch.
        std::function<OverlayPanel &()> makeOverlayPanel;
        // Fetched at launch when not installed.
        QList<ModelDescriptor> launchDownloads;
        // Tells the user how to turn accessibility on; may be empty.
        std::function<void()> promptForAccessibility;
        // Tells the user which chords another program holds; may be empty.
        std::function<void(const QStringList &)> tellChordsUnavailable = {};
        // Tells the user that no chord can work on this desktop; may be empty.
        std::function<void()> tellHotkeysUnavailable = {};
    };

    static constexpr std::chrono::milliseconds hideCheckInterval{500};
    static constexpr std::chrono::seconds hideCheckLimit{120};
    static constexpr std::chrono::seconds hideDelay{2};

    explicit AppDelegate(Collaborators collaborators, QObject *parent = nullptr);
    // On the context's services.
    AppDelegate(AppContext &context, std::function<void()> promptForAccessibility,
                std::function<void(const QStringList &)> tellChordsUnavailable = {},
                std::function<void()> tellHotkeysUnavailable = {}, QObject *parent = nullptr);

    void applicationDidFinishLaunching();
    // Releases the chords and records a dictation that has not been delivered.
    void applicationWillTerminate();

    // None before launch.
    OverlayPanel *overlayPanel() const { return m_overlayPanel; }

    // Tells the user, once per launch, when the store cannot save the history.
    void tellWhenHistoryIsNotSaved(VoiceProfileStore &store, std::function<void(const QString &message)> tell);

private:
    DictationSessionCoordinator &coordinator() const;
    // Runs action on the main thread after the caller returns, unless this is gone.
    void onMainQueue(std::function<void()> action);
    // The launch's slow part: model, encoder and voice files.
    void prepareModelsAndVoices();

    void handleToggle();
    void handleHoldStart();
    void handleHoldRelease();
    void handleFallbackPaste();
    void handleDictationStateChanged(bool isDictating);
    // A start that a hotkey asked for failed: the overlay says why.
    void handleStartFailed();
    // Runs a hotkey's action on the coordinator, remembering whether it began a start.
    void startFromHotkey(const std::function<void()> &action);

    // Something of a dictation still runs (the start, delivery or a stage).
    bool isBusy() const;
    // The check of the hide chain number chain, started at startedAt.
    void scheduleOverlayHideCheck(MonotonicClock::Duration startedAt, quint64 chain);
    // delayed: the hide delay has passed, so hide unless something runs again.
    void overlayHideCheck(MonotonicClock::Duration startedAt, quint64 chain, bool delayed);

    Collaborators m_services;
    OverlayPanel *m_overlayPanel = nullptr;
    // Each stop starts a new chain; an older chain's hide is stale.
    quint64 m_hideChain = 0;
    bool m_toldHistoryNotSaved = false;
    // The start under way came from a hotkey, not the window's button.
    bool m_hotkeyStart = false;
};
