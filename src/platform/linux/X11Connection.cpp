#include "X11Connection.h"

#include "X11Errors.h"

#include "support/Log.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

X11Connection::~X11Connection()
{
    if (m_display)
        XCloseDisplay(m_display);
}

Display *X11Connection::display()
{
    if (!m_opened) {
        m_opened = true;
        m_display = openX11Display();
        if (!m_display)
            logLine("X11", "Cannot open the X display; desktop services are unavailable");
    }
    return m_display;
}

XID X11Connection::rootWindow()
{
    return display() ? DefaultRootWindow(m_display) : 0;
}

unsigned long X11Connection::atom(const char *name)
{
    return display() ? XInternAtom(m_display, name, False) : None;
}

QByteArray X11Connection::read(XID window, const char *name, unsigned long type, int format, unsigned long *count)
{
    QByteArray result;
    *count = 0;
    if (!display() || !window)
        return result;
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(m_display, window, atom(name), 0, 4096, False, type, &actualType, &actualFormat,
                           &items, &after, &data)
            == Success
        && data) {
        if (actualType == type && actualFormat == format) {
            // format-32 items come back as longs
            const qsizetype itemSize = format == 32 ? qsizetype(sizeof(long)) : format / 8;
            result = QByteArray(reinterpret_cast<const char *>(data), qsizetype(items) * itemSize);
            *count = items;
        }
        XFree(data);
    }
    return result;
}

QList<unsigned long> X11Connection::longs(XID window, const char *name, unsigned long type)
{
    unsigned long count = 0;
    const QByteArray bytes = read(window, name, type, 32, &count);
    const auto *values = reinterpret_cast<const unsigned long *>(bytes.constData());
    return QList<unsigned long>(values, values + count);
}

QByteArray X11Connection::stringProperty(XID window, const char *name)
{
    unsigned long count = 0;
    return read(window, name, XA_STRING, 8, &count);
}

bool X11Connection::hasWindowManager()
{
    const auto check = windowProperty(rootWindow(), "_NET_SUPPORTING_WM_CHECK");
    return check && *check != 0;
}

std::optional<XID> X11Connection::windowProperty(XID window, const char *name)
{
    const auto values = longs(window, name, XA_WINDOW);
    if (values.isEmpty())
        return std::nullopt;
    return values.first();
}

QList<XID> X11Connection::windowListProperty(XID window, const char *name)
{
    return longs(window, name, XA_WINDOW);
}

std::optional<qint64> X11Connection::cardinalProperty(XID window, const char *name)
{
    const auto values = longs(window, name, XA_CARDINAL);
    if (values.isEmpty())
        return std::nullopt;
    return qint64(values.first());
}

std::optional<std::pair<QString, QString>> X11Connection::windowClass(XID window)
{
    if (!display() || !window)
        return std::nullopt;
    XClassHint hint{nullptr, nullptr};
    if (!XGetClassHint(m_display, window, &hint))
        return std::nullopt;
    std::pair<QString, QString> result{QString::fromLocal8Bit(hint.res_name), QString::fromLocal8Bit(hint.res_class)};
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return result;
}
