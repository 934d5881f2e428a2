#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

typedef struct _XDisplay Display;
typedef unsigned long XID;

// Our own connection to the X server (apart from Qt's), opened on first use,
// with the few window-property reads the desktop services need.
class X11Connection {
public:
    X11Connection() = default;
    ~X11Connection();
    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    // nullptr when there is no X display to talk to.
    Display *display();
    XID rootWindow();
    unsigned long atom(const char *name);

    // Whether an EWMH window manager runs (it handles activation requests).
    bool hasWindowManager();
    std::optional<XID> windowProperty(XID window, const char *name);
    QList<XID> windowListProperty(XID window, const char *name);
    std::optional<qint64> cardinalProperty(XID window, const char *name);
    // A STRING property's bytes; empty when it is missing.
    QByteArray stringProperty(XID window, const char *name);
    // WM_CLASS as (instance, class).
    std::optional<std::pair<QString, QString>> windowClass(XID window);

private:
    // The property's items when it has this type and format, else nothing.
    QByteArray read(XID window, const char *name, unsigned long type, int format, unsigned long *count);
    QList<unsigned long> longs(XID window, const char *name, unsigned long type);

    Display *m_display = nullptr;
    bool m_opened = false;
};
