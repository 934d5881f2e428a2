#pragma once

typedef struct _XDisplay Display;

// Xlib's default error handler ends the process at the first failed request.
// Every connection we open comes from here and has our handler instead
// (Xlib keeps one per process), which logs the error and goes on.
Display *openX11Display();

// Catches the errors the requests made on this thread while it lives cause on
// display, so their caller can tell (they are not logged). Sync before reading.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display *display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap &) = delete;
    X11ErrorTrap &operator=(const X11ErrorTrap &) = delete;

    // The code of the first error caught; 0 (Success) when none.
    int errorCode() const { return m_errorCode; }

private:
    friend class X11ErrorHandler;

    Display *m_display;
    int m_errorCode = 0;
    X11ErrorTrap *m_outer;
};
