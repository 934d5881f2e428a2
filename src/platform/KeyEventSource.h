#pragma once

#include "platform/KeyCodes.h"

#include <QStringList>

#include <functional>

// System-wide key events, in the vocabulary of KeyCodes.h. Global monitors observe events
// meant for other applications; local monitors see the events meant for this
// application while it is active and may consume them.
class KeyEventSource {
public:
    enum class EventType { keyDown = 10, keyUp = 11, flagsChanged = 12 };

    static constexpr quint64 maskFor(EventType type) { return quint64(1) << int(type); }

    struct KeyEvent {
        EventType type = EventType::keyDown;
        quint16 keyCode = 0;
        quint64 modifierFlags = 0;
        bool isRepeat = false;
    };

    using MonitorToken = quint64; // 0 = no monitor
    using GlobalHandler = std::function<void(const KeyEvent &)>;
    // Returns true when the event is consumed.
    using LocalHandler = std::function<bool(const KeyEvent &)>;

    virtual ~KeyEventSource() = default;

    virtual MonitorToken addGlobalMonitor(quint64 eventMask, GlobalHandler handler) = 0;
    virtual MonitorToken addLocalMonitor(quint64 eventMask, LocalHandler handler) = 0;
    virtual void removeMonitor(MonitorToken token) = 0;
    virtual int monitorCount() const = 0;

    // Whether one of this application's windows has the keyboard focus.
    virtual bool isActiveApplication() const = 0;

    // The labels of the chords another program held when the monitors were
    // installed: pressing them never reaches us.
    virtual QStringList unavailableChords() const = 0;
    // False when no key event can reach the monitors at all (the desktop
    // cannot be reached); known once a monitor is installed.
    virtual bool isAvailable() const { return true; }
};
