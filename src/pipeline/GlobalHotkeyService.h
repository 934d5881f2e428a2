#pragma once

#include "platform/KeyEventSource.h"
#include "support/MonotonicClock.h"

#include <QObject>

class Accessibility;

#include <chrono>
#include <functional>
#include <optional>

// Turns five system-wide key gestures into six callbacks: the hold gesture
// (start and release), the toggle, fallback paste, summarize-and-speak and
// speak-again. Knows nothing of dictation; lives on the main thread.
class GlobalHotkeyService : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void()>;
    using KeyEvent = KeyEventSource::KeyEvent;

    // The application's instance: the one installed, else one made on first
    // use on the installed platform that lives as long as the process.
    static GlobalHotkeyService &shared();
    static void setShared(GlobalHotkeyService *service);

    // Monitors keys through source; the clock times a hold.
    GlobalHotkeyService(KeyEventSource &source, Accessibility &accessibility,
                        MonotonicClock &clock = MonotonicClock::system(), QObject *parent = nullptr);
    // On the installed platform.
    explicit GlobalHotkeyService(MonotonicClock &clock = MonotonicClock::system(), QObject *parent = nullptr);
    ~GlobalHotkeyService() override;

    // Replaces any installed monitors with the five of this service.
    void start();
    // Removes every installed monitor.
    void stop();

    // Read at event time, so they may be set before or after start().
    Callback onToggle;
    Callback onHoldStart;
    Callback onHoldRelease;
    Callback onFallbackPaste;
    Callback onSummarizeAndSpeak;
    Callback onSpeakAgain;

    bool isHolding() const { return m_optionSpaceDown; }
    // The chords another program held at the last start(), by their labels.
    QStringList unavailableChords() const { return m_source.unavailableChords(); }
    // False when, since the last start(), no key can reach the service at all.
    bool isAvailable() const { return m_source.isAvailable(); }

    // Monitor handlers; the local ones return true when they consume the event.
    void handleGlobalKeyDown(const KeyEvent &event);
    void handleGlobalKeyUp(const KeyEvent &event);
    bool handleLocalKeyDown(const KeyEvent &event);
    bool handleLocalKeyUp(const KeyEvent &event);
    void handleFlagsChanged(const KeyEvent &event);

private:
    enum class Gesture { fallbackPaste, summarizeAndSpeak, speakAgain, hold };

    std::optional<Gesture> matchKeyDown(const KeyEvent &event) const;
    void perform(Gesture gesture, bool local);
    // Ends the hold; when it had started, logs message(seconds held) and calls onHoldRelease.
    void releaseHold(const std::function<QString(double)> &message);
    static void call(const Callback &callback);

    KeyEventSource::MonitorToken m_globalKeyDownMonitor = 0;
    KeyEventSource::MonitorToken m_globalKeyUpMonitor = 0;
    KeyEventSource::MonitorToken m_localKeyDownMonitor = 0;
    KeyEventSource::MonitorToken m_localKeyUpMonitor = 0;
    KeyEventSource::MonitorToken m_flagsMonitor = 0;

    KeyEventSource &m_source;
    Accessibility &m_accessibility;
    bool m_optionSpaceDown = false;
    MonotonicClock &m_clock;
    std::optional<MonotonicClock::Duration> m_holdStartTime;
    const double m_minimumHoldDuration = 0.2;
    bool m_holdRecordingStarted = false;
    bool m_fnKeyDown = false;
};
