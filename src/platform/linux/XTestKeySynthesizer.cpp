#include "XTestKeySynthesizer.h"

#include "X11Connection.h"
#include "X11Keys.h"
#include "platform/KeyChords.h"
#include "platform/Workspace.h"

#include <QElapsedTimer>
#include <QList>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
constexpr KeySym kModifierKeys[] = {XK_Shift_L, XK_Shift_R, XK_Control_L, XK_Control_R, XK_Alt_L,
                                    XK_Alt_R,   XK_Meta_L,  XK_Meta_R,    XK_Super_L,   XK_Super_R,
                                    XK_Hyper_L, XK_Hyper_R, XK_ISO_Level3_Shift};

// The modifiers and the chord keys still down. While a chord's key is down
// its grab holds the keyboard, so a key we send would come back to us.
QList<::KeyCode> heldChordKeys(Display *dpy)
{
    QList<KeySym> syms(std::begin(kModifierKeys), std::end(kModifierKeys));
    for (const KeyChord &chord : KeyChords::all)
        syms << x11KeysymFor(chord.keyCode);
    char keys[32];
    XQueryKeymap(dpy, keys);
    QList<::KeyCode> held;
    for (KeySym sym : syms) {
        const ::KeyCode code = XKeysymToKeycode(dpy, sym);
        if (code && (keys[code / 8] & (1 << (code % 8))) && !held.contains(code))
            held << code;
    }
    return held;
}
} // namespace

XTestKeySynthesizer::XTestKeySynthesizer(X11Connection &x11, Workspace &workspace)
    : m_x11(x11)
    , m_workspace(workspace)
{
}

bool XTestKeySynthesizer::isTerminalClass(const QString &windowClass)
{
    static const QStringList terminals{
        QStringLiteral("xterm"),          QStringLiteral("uxterm"),         QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),           QStringLiteral("gnome-terminal"), QStringLiteral("gnome-terminal-server"),
        QStringLiteral("konsole"),        QStringLiteral("xfce4-terminal"), QStringLiteral("terminator"),
        QStringLiteral("tilix"),          QStringLiteral("alacritty"),      QStringLiteral("kitty"),
        QStringLiteral("st"),             QStringLiteral("st-256color"),    QStringLiteral("lxterminal"),
        QStringLiteral("mate-terminal"),  QStringLiteral("qterminal"),      QStringLiteral("sakura"),
        QStringLiteral("terminology"),    QStringLiteral("wezterm"),        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("foot"),           QStringLiteral("guake"),          QStringLiteral("tilda"),
        QStringLiteral("kgx"),            QStringLiteral("org.gnome.console"), QStringLiteral("ptyxis")};
    return terminals.contains(windowClass.toLower());
}

void XTestKeySynthesizer::waitForChordReleased()
{
    Display *dpy = m_x11.display();
    QElapsedTimer waited;
    waited.start();
    QList<::KeyCode> held = heldChordKeys(dpy);
    while (!held.isEmpty() && waited.elapsed() < chordReleaseLimit.count()) {
        QThread::msleep(10);
        held = heldChordKeys(dpy);
    }
    // still held: lift them for the target, the user's own release follows
    for (::KeyCode code : held)
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
}

bool XTestKeySynthesizer::postKeyPress(quint16 keyCode, quint64 flags)
{
    Display *dpy = m_x11.display();
    const KeySym sym = x11KeysymFor(keyCode);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!dpy || sym == NoSymbol || !XTestQueryExtension(dpy, &eventBase, &errorBase, &major, &minor))
        return false;
    const ::KeyCode key = XKeysymToKeycode(dpy, sym);
    if (!key)
        return false;

    QList<KeySym> modifiers;
    if (flags & (ModifierFlag::command | ModifierFlag::control))
        modifiers << XK_Control_L;
    if (flags & ModifierFlag::option)
        modifiers << XK_Alt_L;
    bool shift = flags & ModifierFlag::shift;
    if (flags & ModifierFlag::command) {
        const auto front = m_workspace.frontmostApplication();
        shift = shift || (front && isTerminalClass(front->windowClass));
    }
    if (shift)
        modifiers << XK_Shift_L;
    QList<::KeyCode> modifierCodes;
    for (KeySym modifier : modifiers) {
        if (const ::KeyCode code = XKeysymToKeycode(dpy, modifier))
            modifierCodes << code;
    }

    waitForChordReleased();
    for (::KeyCode code : modifierCodes)
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, key, True, CurrentTime);
    XTestFakeKeyEvent(dpy, key, False, CurrentTime);
    for (auto it = modifierCodes.rbegin(); it != modifierCodes.rend(); ++it)
        XTestFakeKeyEvent(dpy, *it, False, CurrentTime);
    XSync(dpy, False);
    return true;
}
