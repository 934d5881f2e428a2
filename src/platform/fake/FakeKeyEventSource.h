#pragma once

#include "platform/KeyEventMonitors.h"

// Key events a test types by hand, delivered synchronously.
class FakeKeyEventSource : public KeyEventMonitors {
public:
    bool isActiveApplication() const override { return m_active; }
    void setActiveApplication(bool active) { m_active = active; }
    QStringList unavailableChords() const override { return takenChords; }
    QStringList takenChords;
    bool isAvailable() const override { return available; }
    bool available = true;

    // Each returns whether a local monitor consumed the event.
    bool keyDown(quint16 keyCode, quint64 modifierFlags, bool isRepeat = false);
    bool keyUp(quint16 keyCode, quint64 modifierFlags);
    bool flagsChanged(quint64 modifierFlags);
    bool send(const KeyEvent &event) { return deliver(event); }

private:
    bool m_active = false;
};
