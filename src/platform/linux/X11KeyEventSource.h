#pragma once

#include "platform/KeyChords.h"
#include "platform/KeyEventMonitors.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <memory>
#include <optional>
#include <utility>

class QSocketNotifier;
struct _XDisplay;

// Grabs the application's chords on the X root window (on a connection of
// its own) while any monitor is installed, and reports them as the key codes
// and flags of KeyChords. During a grab the keyboard belongs to us until the
// chord's key is released, so modifier releases are seen too.
class X11KeyEventSource : public KeyEventMonitors {
public:
    X11KeyEventSource();
    ~X11KeyEventSource() override;

    bool isActiveApplication() const override;
    QStringList unavailableChords() const override;
    bool isAvailable() const override { return !m_openFailed; }

protected:
    void monitoringChanged(bool active) override;

private:
    struct Grab {
        const KeyChord *chord;
        unsigned int xModifiers = 0;
        unsigned int keycode = 0;
        bool grabbed = false;
        bool refused = false;
    };

    // A key code and the full modifier state it is grabbed with.
    using Combination = std::pair<unsigned int, unsigned int>;

    bool openDisplay();
    void readModifierMapping();
    // Grabs every chord for the current keyboard mapping, and gives back
    // whatever an earlier mapping needed that this one does not.
    void grabAll();
    void ungrabAll();
    QList<Combination> grabbedCombinations() const;
    void ungrab(const QList<Combination> &combinations);
    void processPending();
    void handleKey(bool press, unsigned int keycode, unsigned int state);
    quint64 flagsFor(unsigned int state) const;
    const Grab *matchingGrab(unsigned int keycode, unsigned int state) const;
    void reportFlags(quint64 flags);
    // The lock-key combinations each chord is grabbed with as well.
    QList<unsigned int> lockVariants() const;

    _XDisplay *m_display = nullptr;
    bool m_openFailed = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<Grab> m_grabs;
    // the lock-key combinations the grabs in place were made with
    QList<unsigned int> m_grabbedLocks;
    unsigned int m_altMask = 0;
    unsigned int m_superMask = 0;
    unsigned int m_numLockMask = 0;
    QHash<unsigned int, unsigned int> m_modifierOfKeycode;
    QHash<unsigned int, quint16> m_reportedKeyCode;
    QSet<unsigned int> m_pressed;
    // The flags the global monitors last heard; unknown after a report that
    // only our own window's monitors saw.
    std::optional<quint64> m_globalFlags;
};
