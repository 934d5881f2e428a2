#include "X11KeyEventSource.h"

#include "X11Errors.h"
#include "X11Keys.h"
#include "support/Log.h"

#include <QGuiApplication>
#include <QSocketNotifier>

// Xlib last: its macros collide with Qt names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {
const char *const kTag = "Hotkey";

namespace Flag = ModifierFlag;

constexpr unsigned int kModifierBits = ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;

// Runs the requests, waits for the server's answer and tells whether any of
// them was refused because another client holds the same grab.
template <typename Fn>
bool refusedByServer(Display *display, Fn requests)
{
    X11ErrorTrap trap(display);
    requests();
    XSync(display, False);
    return trap.errorCode() == BadAccess;
}
} // namespace

X11KeyEventSource::X11KeyEventSource()
{
    for (const KeyChord &chord : KeyChords::all)
        m_grabs.append({&chord});
}

X11KeyEventSource::~X11KeyEventSource()
{
    m_notifier.reset();
    if (m_display) {
        ungrabAll();
        XCloseDisplay(m_display);
    }
}

bool X11KeyEventSource::isActiveApplication() const
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        && QGuiApplication::applicationState() == Qt::ApplicationActive;
}

QStringList X11KeyEventSource::unavailableChords() const
{
    QStringList labels;
    for (const Grab &grab : m_grabs) {
        if (grab.refused)
            labels.append(QLatin1String(grab.chord->label));
    }
    return labels;
}

void X11KeyEventSource::monitoringChanged(bool active)
{
    // new monitors know nothing of the keys held so far
    m_globalFlags.reset();
    if (active) {
        if (openDisplay())
            grabAll();
    } else if (m_display) {
        ungrabAll();
        // the held keys' releases go unseen from now on
        m_pressed.clear();
    }
    // Syncing with the server may have queued events the notifier will not announce.
    processPending();
}

bool X11KeyEventSource::openDisplay()
{
    if (m_display)
        return true;
    if (m_openFailed)
        return false;
    m_display = openX11Display();
    if (!m_display) {
        m_openFailed = true;
        logLine(kTag, "Cannot open the X display: global hotkeys are unavailable");
        return false;
    }
    // Without it a held key repeats as release/press pairs, which would end a hold.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(m_display, True, &supported);
    if (!supported)
        logLine(kTag, "The X server cannot report key repeats; holding a key may end the hold gesture");
    readModifierMapping();

    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { processPending(); });
    return true;
}

void X11KeyEventSource::readModifierMapping()
{
    auto maskOf = [this](KeySym keysym, unsigned int fallback) {
        const unsigned int mask = XkbKeysymToModifiers(m_display, keysym);
        return mask ? mask : fallback;
    };
    m_altMask = maskOf(XK_Alt_L, Mod1Mask);
    m_superMask = maskOf(XK_Super_L, Mod4Mask);
    m_numLockMask = XkbKeysymToModifiers(m_display, XK_Num_Lock);

    m_modifierOfKeycode.clear();
    if (XModifierKeymap *map = XGetModifierMapping(m_display)) {
        for (int index = 0; index < 8; ++index) {
            for (int j = 0; j < map->max_keypermod; ++j) {
                const KeyCode keycode = map->modifiermap[index * map->max_keypermod + j];
                if (keycode != 0)
                    m_modifierOfKeycode.insert(keycode, 1u << index);
            }
        }
        XFreeModifiermap(map);
    }
}

QList<unsigned int> X11KeyEventSource::lockVariants() const
{
    QList<unsigned int> variants{0, LockMask};
    if (m_numLockMask)
        variants << m_numLockMask << (m_numLockMask | LockMask);
    return variants;
}

void X11KeyEventSource::grabAll()
{
    // A grab made again replaces our own at once, so every chord is grabbed
    // anew first and only what no chord uses any more is given back after: a
    // chord typed meanwhile never finds its key free. (The server sends a
    // mapping notice at every switch between keyboards, XTest's included,
    // mostly with nothing changed.)
    const QList<Combination> before = grabbedCombinations();
    QList<Combination> after;
    const Window root = DefaultRootWindow(m_display);
    const QList<unsigned int> variants = lockVariants();
    m_reportedKeyCode.clear();
    for (Grab &grab : m_grabs) {
        // Command and Option are Alt here, Function is Super.
        const quint64 flags = grab.chord->modifierFlags;
        grab.xModifiers = ((flags & Flag::control) ? ControlMask : 0)
            | ((flags & (Flag::option | Flag::command)) ? m_altMask : 0) | ((flags & Flag::function) ? m_superMask : 0);
        grab.keycode = XKeysymToKeycode(m_display, x11KeysymFor(grab.chord->keyCode));
        grab.grabbed = false;
        grab.refused = false;
        if (grab.keycode == 0) {
            logLine(kTag, QStringLiteral("Could not grab %1: the keyboard has no such key").arg(QLatin1String(grab.chord->label)));
            continue;
        }
        m_reportedKeyCode.insert(grab.keycode, grab.chord->keyCode);
        QList<Combination> combinations;
        for (unsigned int locks : variants)
            combinations.append({grab.keycode, grab.xModifiers | locks});
        const bool refused = refusedByServer(m_display, [&] {
            for (const Combination &combination : combinations)
                XGrabKey(m_display, int(combination.first), combination.second, root, False, GrabModeAsync, GrabModeAsync);
        });
        if (refused) {
            // Give back the variants that did succeed: the chord works fully or not at all.
            ungrab(combinations);
            logLine(kTag, QStringLiteral("Could not grab %1: another program already uses it").arg(QLatin1String(grab.chord->label)));
            grab.refused = true;
            continue;
        }
        grab.grabbed = true;
        after.append(combinations);
    }
    m_grabbedLocks = variants;
    QList<Combination> stale;
    for (const Combination &combination : before) {
        if (!after.contains(combination))
            stale.append(combination);
    }
    ungrab(stale);
}

void X11KeyEventSource::ungrabAll()
{
    ungrab(grabbedCombinations());
    for (Grab &grab : m_grabs)
        grab.grabbed = false;
}

QList<X11KeyEventSource::Combination> X11KeyEventSource::grabbedCombinations() const
{
    QList<Combination> combinations;
    for (const Grab &grab : m_grabs) {
        if (!grab.grabbed)
            continue;
        for (unsigned int locks : m_grabbedLocks)
            combinations.append({grab.keycode, grab.xModifiers | locks});
    }
    return combinations;
}

void X11KeyEventSource::ungrab(const QList<Combination> &combinations)
{
    if (combinations.isEmpty())
        return;
    const Window root = DefaultRootWindow(m_display);
    refusedByServer(m_display, [&] {
        for (const Combination &combination : combinations)
            XUngrabKey(m_display, int(combination.first), combination.second, root);
    });
}

void X11KeyEventSource::processPending()
{
    while (m_display && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        switch (event.type) {
        case KeyPress:
        case KeyRelease:
            handleKey(event.type == KeyPress, event.xkey.keycode, event.xkey.state);
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            if (event.xmapping.request != MappingPointer && monitorCount() > 0) {
                // keys held meanwhile stay known as down: their repeats are no new presses
                readModifierMapping();
                grabAll();
            }
            break;
        default:
            break;
        }
    }
}

quint64 X11KeyEventSource::flagsFor(unsigned int state) const
{
    quint64 flags = 0;
    if (state & ShiftMask)
        flags |= Flag::shift;
    if (state & LockMask)
        flags |= Flag::capsLock;
    if (state & ControlMask)
        flags |= Flag::control;
    if (state & m_altMask)
        flags |= Flag::option;
    if (state & m_superMask)
        flags |= Flag::function;
    return flags;
}

const X11KeyEventSource::Grab *X11KeyEventSource::matchingGrab(unsigned int keycode, unsigned int state) const
{
    const unsigned int modifiers = state & kModifierBits & ~(LockMask | m_numLockMask);
    for (const Grab &grab : m_grabs) {
        if (grab.keycode == keycode && grab.xModifiers == modifiers)
            return &grab;
    }
    return nullptr;
}

void X11KeyEventSource::reportFlags(quint64 flags)
{
    m_globalFlags = isActiveApplication() ? std::nullopt : std::optional(flags);
    deliver({EventType::flagsChanged, 0, flags, false});
}

void X11KeyEventSource::handleKey(bool press, unsigned int keycode, unsigned int state)
{
    // X gives the state from before the event; a modifier key changes it.
    if (const auto modifier = m_modifierOfKeycode.constFind(keycode); modifier != m_modifierOfKeycode.constEnd()) {
        reportFlags(flagsFor(press ? (state | *modifier) : (state & ~*modifier)));
        return;
    }
    const auto reported = m_reportedKeyCode.constFind(keycode);
    if (reported == m_reportedKeyCode.constEnd())
        return;
    if (!press) {
        m_pressed.remove(keycode);
        deliver({EventType::keyUp, *reported, flagsFor(state), false});
        return;
    }
    const bool repeat = m_pressed.contains(keycode);
    m_pressed.insert(keycode);
    // Modifier changes outside a grab go to other clients; catch up first.
    if (flagsFor(state) != m_globalFlags)
        reportFlags(flagsFor(state));
    const Grab *grab = matchingGrab(keycode, state);
    const quint64 flags = grab ? grab->chord->modifierFlags | (flagsFor(state) & Flag::capsLock) : flagsFor(state);
    deliver({EventType::keyDown, *reported, flags, repeat});
}
