#include "GlobalHotkeyService.h"

#include "platform/Accessibility.h"
#include "platform/KeyChords.h"
#include "platform/Platform.h"
#include "support/Log.h"
#include "support/SharedInstance.h"

#include <QPointer>

namespace {
namespace Flag = ModifierFlag;
using EventType = KeyEventSource::EventType;

// Caps Lock and Function lie outside it and never prevent a match.
constexpr quint64 kModifierMask = Flag::shift | Flag::control | Flag::option | Flag::command;
constexpr quint64 kCommandControl = Flag::command | Flag::control;
constexpr quint64 kToggleExcluded = Flag::shift | Flag::control | Flag::command;

const char *const kTag = "Hotkey";

QString seconds(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace

GlobalHotkeyService &GlobalHotkeyService::shared()
{
    if (GlobalHotkeyService *installed = SharedInstance<GlobalHotkeyService>::installed())
        return *installed;
    static auto *instance = new GlobalHotkeyService;
    return *instance;
}

void GlobalHotkeyService::setShared(GlobalHotkeyService *service)
{
    SharedInstance<GlobalHotkeyService>::install(service);
}

GlobalHotkeyService::GlobalHotkeyService(KeyEventSource &source, Accessibility &accessibility, MonotonicClock &clock,
                                         QObject *parent)
    : QObject(parent)
    , m_source(source)
    , m_accessibility(accessibility)
    , m_clock(clock)
{
}

GlobalHotkeyService::GlobalHotkeyService(MonotonicClock &clock, QObject *parent)
    : GlobalHotkeyService(Platform::instance().keyEventSource(), Platform::instance().accessibility(), clock, parent)
{
}

GlobalHotkeyService::~GlobalHotkeyService()
{
    SharedInstance<GlobalHotkeyService>::release(this);
}

void GlobalHotkeyService::start()
{
    stop();
    KeyEventSource &source = m_source;
    const QPointer<GlobalHotkeyService> self(this);

    m_globalKeyDownMonitor = source.addGlobalMonitor(KeyEventSource::maskFor(EventType::keyDown), [self](const KeyEvent &e) {
        if (self)
            self->handleGlobalKeyDown(e);
    });
    m_globalKeyUpMonitor = source.addGlobalMonitor(KeyEventSource::maskFor(EventType::keyUp), [self](const KeyEvent &e) {
        if (self)
            self->handleGlobalKeyUp(e);
    });
    m_localKeyDownMonitor = source.addLocalMonitor(KeyEventSource::maskFor(EventType::keyDown), [self](const KeyEvent &e) {
        return self && self->handleLocalKeyDown(e);
    });
    m_localKeyUpMonitor = source.addLocalMonitor(KeyEventSource::maskFor(EventType::keyUp), [self](const KeyEvent &e) {
        return self && self->handleLocalKeyUp(e);
    });
    m_flagsMonitor = source.addGlobalMonitor(
        KeyEventSource::maskFor(EventType::flagsChanged) | KeyEventSource::maskFor(EventType::keyDown),
        [self](const KeyEvent &e) {
            if (self)
                self->handleFlagsChanged(e);
        });

    // the source has said why none can work
    if (!source.isAvailable())
        return;
    logLine(kTag, QStringLiteral("Registered (Hold: %1, Toggle: %2, Paste: %3). Accessibility=%4")
                      .arg(QLatin1String(KeyChords::hold.label), QLatin1String(KeyChords::toggle.label),
                           QLatin1String(KeyChords::fallbackPaste.label))
                      .arg(m_accessibility.isProcessTrusted() ? 1 : 0));
}

void GlobalHotkeyService::stop()
{
    KeyEventSource::MonitorToken *fields[] = {&m_globalKeyDownMonitor, &m_globalKeyUpMonitor, &m_localKeyDownMonitor,
                                              &m_localKeyUpMonitor, &m_flagsMonitor};
    for (KeyEventSource::MonitorToken *token : fields) {
        if (*token != 0)
            m_source.removeMonitor(*token);
        *token = 0;
    }
}

std::optional<GlobalHotkeyService::Gesture> GlobalHotkeyService::matchKeyDown(const KeyEvent &event) const
{
    const quint64 modifiers = event.modifierFlags & kModifierMask;
    if (modifiers == kCommandControl) {
        if (event.keyCode == Key::v)
            return Gesture::fallbackPaste;
        if (event.keyCode == Key::s)
            return Gesture::summarizeAndSpeak;
        if (event.keyCode == Key::r)
            return Gesture::speakAgain;
    }
    if (event.keyCode == Key::space && modifiers == Flag::option && !m_optionSpaceDown)
        return Gesture::hold;
    return std::nullopt;
}

void GlobalHotkeyService::handleGlobalKeyDown(const KeyEvent &event)
{
    if (const auto gesture = matchKeyDown(event))
        perform(*gesture, false);
}

bool GlobalHotkeyService::handleLocalKeyDown(const KeyEvent &event)
{
    const auto gesture = matchKeyDown(event);
    if (gesture)
        perform(*gesture, true);
    // A matched gesture is consumed even when nobody listens for it.
    return gesture.has_value();
}

void GlobalHotkeyService::perform(Gesture gesture, bool local)
{
    switch (gesture) {
    case Gesture::fallbackPaste:
        logLine(kTag, local ? "Cmd+Ctrl+V (fallback paste) matched (local)!" : "Cmd+Ctrl+V (fallback paste) matched!");
        call(onFallbackPaste);
        break;
    case Gesture::summarizeAndSpeak:
        logLine(kTag, local ? "Cmd+Ctrl+S (summarize) matched (local)!" : "Cmd+Ctrl+S (summarize & speak) matched!");
        call(onSummarizeAndSpeak);
        break;
    case Gesture::speakAgain:
        logLine(kTag, local ? "Cmd+Ctrl+R (speak again) matched (local)!" : "Cmd+Ctrl+R (speak again) matched!");
        call(onSpeakAgain);
        break;
    case Gesture::hold:
        m_optionSpaceDown = true;
        m_holdStartTime = m_clock.now();
        m_holdRecordingStarted = true;
        logLine(kTag, local ? "Option+Space DOWN (local) — starting hold recording"
                            : "Option+Space DOWN — starting hold recording");
        call(onHoldStart);
        break;
    }
}

void GlobalHotkeyService::releaseHold(const std::function<QString(double)> &message)
{
    const double held = m_holdStartTime
        ? toSeconds(m_clock.now() - *m_holdStartTime)
        : 0.0;
    m_optionSpaceDown = false;
    if (m_holdRecordingStarted) {
        logLine(kTag, message(held));
        // The minimum duration only chooses the log line: a short hold ends like a long one.
        call(onHoldRelease);
        m_holdRecordingStarted = false;
    }
    m_holdStartTime.reset();
}

void GlobalHotkeyService::handleGlobalKeyUp(const KeyEvent &event)
{
    if (event.keyCode != Key::space || !m_optionSpaceDown)
        return;
    releaseHold([this](double held) {
        return held >= m_minimumHoldDuration
            ? QStringLiteral("Option+Space UP (%1s held) — stopping hold recording").arg(seconds(held))
            : QStringLiteral("Option+Space UP (%1s — too short, cancelling)").arg(seconds(held));
    });
}

bool GlobalHotkeyService::handleLocalKeyUp(const KeyEvent &event)
{
    if (event.keyCode != Key::space || !m_optionSpaceDown)
        return false;
    releaseHold([](double held) { return QStringLiteral("Option+Space UP (local, %1s held)").arg(seconds(held)); });
    return true;
}

void GlobalHotkeyService::handleFlagsChanged(const KeyEvent &event)
{
    if (event.type == EventType::flagsChanged) {
        m_fnKeyDown = event.modifierFlags & Flag::function;
        if (m_optionSpaceDown && !(event.modifierFlags & Flag::option))
            releaseHold([](double held) {
                return QStringLiteral("Option released via flagsChanged (%1s) — stopping").arg(seconds(held));
            });
        return;
    }
    // a held chord repeats: one press, one toggle
    if (event.type == EventType::keyDown && !event.isRepeat && m_fnKeyDown && event.keyCode == Key::space
        && !(event.modifierFlags & kToggleExcluded)) {
        logLine(kTag, "Fn+Space matched (toggle)!");
        call(onToggle);
    }
}

void GlobalHotkeyService::call(const Callback &callback)
{
    if (callback)
        callback();
}
