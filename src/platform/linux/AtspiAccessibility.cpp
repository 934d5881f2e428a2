#include "AtspiAccessibility.h"

#include "X11Connection.h"

#include "support/Log.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <algorithm>
#include <dbus/dbus.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

// glib names a struct member "signals", which Qt defines as a keyword
#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {

using Error = Accessibility::Error;

// Owns one reference to a GObject.
template <typename T>
struct Ref {
    T *ptr = nullptr;
    Ref() = default;
    explicit Ref(T *p) : ptr(p) {}
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    Ref &operator=(Ref &&other) noexcept
    {
        std::swap(ptr, other.ptr);
        return *this;
    }
    ~Ref()
    {
        if (ptr)
            g_object_unref(ptr);
    }
    explicit operator bool() const { return ptr != nullptr; }
    T *get() const { return ptr; }
};

class AtspiElement : public Accessibility::Element {
public:
    explicit AtspiElement(AtspiAccessible *object)
        : m_object(object)
    {
    }
    AtspiAccessible *object() const { return m_object.get(); }

private:
    Ref<AtspiAccessible> m_object;
};

AtspiAccessible *objectOf(const Accessibility::Element &element)
{
    return static_cast<const AtspiElement &>(element).object();
}

// Takes (and frees) a GError. A timed-out call sets none and only returns
// its failure value, so callers pass whether the result looks like one.
Error errorFrom(GError *&error, bool failed = false)
{
    if (!error)
        return failed ? Error::cannotComplete : Error::success;
    g_clear_error(&error);
    return Error::cannotComplete;
}

bool hasState(AtspiAccessible *object, AtspiStateType state)
{
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

// Toolkits may report a read-only field as editable too, and still apply
// an edit to it.
bool isWritable(AtspiAccessible *object)
{
    return hasState(object, ATSPI_STATE_EDITABLE) && !hasState(object, ATSPI_STATE_READ_ONLY);
}

bool isPassword(AtspiAccessible *object)
{
    GError *error = nullptr;
    const AtspiRole role = atspi_accessible_get_role(object, &error);
    g_clear_error(&error);
    return role == ATSPI_ROLE_PASSWORD_TEXT;
}

// Text from libatspi, or nullopt when the call failed.
std::optional<QString> takeText(gchar *text, GError *&error)
{
    const bool failed = errorFrom(error, !text) != Error::success;
    const QString result = QString::fromUtf8(text);
    g_free(text);
    return failed ? std::nullopt : std::optional<QString>(result);
}

QString roleName(AtspiRole role, bool multiLine)
{
    switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_TEXT:
        return multiLine ? QStringLiteral("AXTextArea") : QStringLiteral("AXTextField");
    case ATSPI_ROLE_PASSWORD_TEXT:
        return QStringLiteral("AXTextField");
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        return QStringLiteral("AXTextArea");
    case ATSPI_ROLE_COMBO_BOX:
        return QStringLiteral("AXComboBox");
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
        return QStringLiteral("AXWebArea");
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return QStringLiteral("AXButton");
    case ATSPI_ROLE_CHECK_BOX:
        return QStringLiteral("AXCheckBox");
    case ATSPI_ROLE_RADIO_BUTTON:
        return QStringLiteral("AXRadioButton");
    case ATSPI_ROLE_SLIDER:
        return QStringLiteral("AXSlider");
    case ATSPI_ROLE_SPIN_BUTTON:
        return QStringLiteral("AXIncrementor");
    case ATSPI_ROLE_SCROLL_BAR:
        return QStringLiteral("AXScrollBar");
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
        return QStringLiteral("AXList");
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
        return QStringLiteral("AXTable");
    case ATSPI_ROLE_TREE:
        return QStringLiteral("AXOutline");
    case ATSPI_ROLE_MENU_ITEM:
        return QStringLiteral("AXMenuItem");
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
        return QStringLiteral("AXStaticText");
    case ATSPI_ROLE_LINK:
        return QStringLiteral("AXLink");
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
        return QStringLiteral("AXWindow");
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_SECTION:
        return QStringLiteral("AXGroup");
    default:
        return QStringLiteral("AXUnknown");
    }
}

// Depth-first search for the focused element, skipping hidden subtrees and
// bounded in elements and time: past either, the clipboard does the job.
class FocusSearch {
public:
    FocusSearch(int budget, std::chrono::milliseconds limit)
        : m_budget(budget)
        , m_deadline(limit)
    {
    }

    AtspiAccessible *inApplication(AtspiAccessible *app)
    {
        // the focus lives in the active window when there is one
        std::vector<Ref<AtspiAccessible>> windows = children(app);
        std::vector<AtspiAccessible *> active;
        for (const auto &window : windows) {
            if (hasState(window.get(), ATSPI_STATE_ACTIVE))
                active.push_back(window.get());
        }
        if (active.empty()) {
            for (const auto &window : windows)
                active.push_back(window.get());
        }
        for (AtspiAccessible *window : active) {
            if (AtspiAccessible *found = in(window, 1))
                return found;
        }
        return nullptr;
    }

private:
    std::vector<Ref<AtspiAccessible>> children(AtspiAccessible *node)
    {
        std::vector<Ref<AtspiAccessible>> result;
        GError *error = nullptr;
        const gint count = atspi_accessible_get_child_count(node, &error);
        if (errorFrom(error, count < 0) != Error::success)
            return result;
        for (gint i = 0; i < count && !exhausted(); ++i) {
            Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, i, &error));
            if (errorFrom(error) == Error::success && child)
                result.push_back(std::move(child));
        }
        return result;
    }

    bool exhausted() const { return m_budget <= 0 || m_deadline.hasExpired(); }

    AtspiAccessible *in(AtspiAccessible *node, int depth)
    {
        --m_budget;
        if (exhausted() || depth > 64)
            return nullptr;
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(node));
        if (!states)
            return nullptr;
        if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED))
            return static_cast<AtspiAccessible *>(g_object_ref(node));
        if (!atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING))
            return nullptr;
        for (const auto &child : children(node)) {
            if (AtspiAccessible *found = in(child.get(), depth + 1))
                return found;
        }
        return nullptr;
    }

    int m_budget;
    QDeadlineTimer m_deadline;
};

// Qt's bridge counts offsets and lengths in UTF-16 units (and pads or cuts
// an inserted text to the length given); ATK-based toolkits (GTK, Firefox,
// Chromium) count offsets in characters and an insertion's length in bytes.
bool countsUtf16(AtspiAccessible *object)
{
    GError *error = nullptr;
    Ref<AtspiAccessible> app(atspi_accessible_get_application(object, &error));
    g_clear_error(&error);
    gchar *toolkit = app ? atspi_accessible_get_toolkit_name(app.get(), &error) : nullptr;
    g_clear_error(&error);
    const bool qt = toolkit && g_ascii_strcasecmp(toolkit, "Qt") == 0;
    g_free(toolkit);
    return qt;
}

// Selection or caret, as character offsets.
bool selectionOf(AtspiText *text, int *start, int *end, Error *failure)
{
    GError *error = nullptr;
    const gint selections = atspi_text_get_n_selections(text, &error);
    if ((*failure = errorFrom(error, selections < 0)) != Error::success)
        return false;
    if (selections > 0) {
        AtspiRange *range = atspi_text_get_selection(text, 0, &error);
        if ((*failure = errorFrom(error, !range)) != Error::success) {
            g_free(range);
            return false;
        }
        *start = std::min(range->start_offset, range->end_offset);
        *end = std::max(range->start_offset, range->end_offset);
        g_free(range);
        return true;
    }
    const gint caret = atspi_text_get_caret_offset(text, &error);
    if ((*failure = errorFrom(error, caret < 0)) != Error::success)
        return false;
    *start = *end = caret;
    return true;
}

// The accessibility bus address, found as libatspi finds it: the root
// window's AT_SPI_BUS property, else the session bus's org.a11y.Bus.
QByteArray accessibilityBusAddress(X11Connection &x11, int timeoutMs)
{
    if (const QByteArray address = x11.stringProperty(x11.rootWindow(), "AT_SPI_BUS"); !address.isEmpty())
        return address;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!session) {
        dbus_error_free(&error);
        return {};
    }
    dbus_connection_set_exit_on_disconnect(session, FALSE);
    QByteArray address;
    DBusMessage *call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
    DBusMessage *reply = dbus_connection_send_with_reply_and_block(session, call, timeoutMs, &error);
    const char *text = nullptr;
    if (reply && dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
        address = text;
    if (reply)
        dbus_message_unref(reply);
    dbus_message_unref(call);
    dbus_error_free(&error);
    dbus_connection_close(session);
    dbus_connection_unref(session);
    return address;
}

bool canConnect(const QByteArray &address)
{
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *connection = dbus_connection_open_private(address.constData(), &error);
    dbus_error_free(&error);
    if (!connection)
        return false;
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return true;
}


struct MessageUnref {
    void operator()(DBusMessage *message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A call to the accessibility bus launcher's status properties on the session
// bus; the reply, or null on any error or timeout.
Message callA11yStatus(const char *method, const std::function<void(DBusMessageIter *)> &appendValue, int timeoutMs)
{
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (!session)
        return nullptr;
    dbus_connection_set_exit_on_disconnect(session, FALSE);
    Message call(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                                              method));
    const char *interface = "org.a11y.Status";
    const char *property = "IsEnabled";
    DBusMessageIter arguments;
    dbus_message_iter_init_append(call.get(), &arguments);
    dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &property);
    if (appendValue)
        appendValue(&arguments);
    Message reply(dbus_connection_send_with_reply_and_block(session, call.get(), timeoutMs, &error));
    dbus_error_free(&error);
    dbus_connection_close(session);
    dbus_connection_unref(session);
    return reply;
}

bool accessibilityEnabled(int timeoutMs)
{
    const Message reply = callA11yStatus("Get", {}, timeoutMs);
    DBusMessageIter value, inner;
    if (!reply || !dbus_message_iter_init(reply.get(), &value)
        || dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_VARIANT)
        return false;
    dbus_message_iter_recurse(&value, &inner);
    if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_BOOLEAN)
        return false;
    dbus_bool_t enabled = FALSE;
    dbus_message_iter_get_basic(&inner, &enabled);
    return enabled;
}

bool enableAccessibilityBus(int timeoutMs)
{
    const auto appendTrue = [](DBusMessageIter *arguments) {
        DBusMessageIter variant;
        const dbus_bool_t yes = TRUE;
        dbus_message_iter_open_container(arguments, DBUS_TYPE_VARIANT, "b", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &yes);
        dbus_message_iter_close_container(arguments, &variant);
    };
    return callA11yStatus("Set", appendTrue, timeoutMs) != nullptr;
}

// GNOME-style desktops keep the switch in a setting that toolkits read at
// start-up; elsewhere there is no such schema and nothing to write.
bool enableToolkitAccessibilitySetting()
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema = source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
                                     : nullptr;
    if (!schema)
        return false;
    bool written = false;
    if (g_settings_schema_has_key(schema, "toolkit-accessibility")) {
        GSettings *settings = g_settings_new_full(schema, nullptr, nullptr);
        written = g_settings_set_boolean(settings, "toolkit-accessibility", TRUE);
        g_settings_sync();
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return written;
}

} // namespace

AtspiAccessibility::AtspiAccessibility(X11Connection &x11)
    : m_x11(x11)
{
}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::connect()
{
    if (!m_initialized) {
        // libatspi aborts the process when it finds no accessibility bus, so
        // look for one first
        const QByteArray address = accessibilityBusAddress(m_x11, int(callTimeout.count()));
        if (address.isEmpty() || !canConnect(address))
            return false;
        const int rc = atspi_init();
        m_initialized = rc == 0 || rc == 1;
        if (m_initialized)
            atspi_set_timeout(int(callTimeout.count()), -1);
        else
            logLine("Accessibility", QStringLiteral("No accessibility bus (code %1)").arg(rc));
    }
    return m_initialized;
}

bool AtspiAccessibility::isProcessTrusted()
{
    if (!accessibilityEnabled(int(callTimeout.count())))
        return false;
    const std::lock_guard lock(m_mutex);
    if (!connect())
        return false;
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return false;
    GError *error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop.get(), &error);
    return errorFrom(error, count < 0) == Error::success;
}

bool AtspiAccessibility::requestAccess()
{
    const bool setting = enableToolkitAccessibilitySetting();
    const bool bus = enableAccessibilityBus(int(callTimeout.count()));
    logLine("Accessibility", QStringLiteral("Asked the desktop to enable accessibility (bus %1, setting %2)")
                                 .arg(bus ? "switched on" : "unreachable", setting ? "written" : "absent"));
    return bus || setting;
}

Accessibility::Result<Accessibility::ElementPtr> AtspiAccessibility::focusedElement(qint64 processIdentifier)
{
    const std::lock_guard lock(m_mutex);
    if (!connect())
        return {Error::notTrusted, nullptr};
    // we are not on the bus ourselves; asking would only wait out the timeout
    if (processIdentifier == qint64(::getpid()))
        return {Error::cannotComplete, nullptr};
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return {Error::notTrusted, nullptr};
    GError *error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop.get(), &error);
    if (errorFrom(error, count < 0) != Error::success)
        return {Error::notTrusted, nullptr};
    for (gint i = 0; i < count; ++i) {
        Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        if (error) {
            g_clear_error(&error);
            continue;
        }
        if (!app || qint64(atspi_accessible_get_process_id(app.get(), &error)) != processIdentifier) {
            g_clear_error(&error);
            continue;
        }
        // states change without us listening for events: ask afresh
        atspi_accessible_clear_cache(app.get());
        // one uncached call that reports failure, so a hung application
        // costs one timeout rather than one per element searched
        GHashTable *attributes = atspi_accessible_get_attributes(app.get(), &error);
        if (const Error failure = errorFrom(error, !attributes); failure != Error::success)
            return {failure, nullptr};
        g_hash_table_unref(attributes);
        AtspiAccessible *found = FocusSearch(searchLimit, searchTimeLimit).inApplication(app.get());
        return {Error::success, found ? std::make_shared<AtspiElement>(found) : nullptr};
    }
    // the application is not on the accessibility bus
    return {Error::cannotComplete, nullptr};
}

Accessibility::Result<QString> AtspiAccessibility::role(const Element &element)
{
    const std::lock_guard lock(m_mutex);
    AtspiAccessible *object = objectOf(element);
    GError *error = nullptr;
    const AtspiRole role = atspi_accessible_get_role(object, &error);
    if (const Error failure = errorFrom(error, role == ATSPI_ROLE_INVALID); failure != Error::success)
        return {failure, {}};
    return {Error::success, roleName(role, hasState(object, ATSPI_STATE_MULTI_LINE))};
}

Accessibility::Result<QVariant> AtspiAccessibility::value(const Element &element)
{
    const std::lock_guard lock(m_mutex);
    AtspiAccessible *object = objectOf(element);
    if (isPassword(object))
        return {Error::noValue, {}};
    GError *error = nullptr;
    if (Ref<AtspiText> text{atspi_accessible_get_text_iface(object)}) {
        // a failed read must not pass for an empty field: appending would wipe it
        const auto content = takeText(atspi_text_get_text(text.get(), 0, -1, &error), error);
        if (!content)
            return {Error::cannotComplete, {}};
        return {Error::success, *content};
    }
    if (Ref<AtspiValue> value{atspi_accessible_get_value_iface(object)}) {
        const double current = atspi_value_get_current_value(value.get(), &error);
        if (const Error failure = errorFrom(error); failure != Error::success)
            return {failure, {}};
        return {Error::success, current};
    }
    return {Error::noValue, {}};
}

Accessibility::Result<Accessibility::TextRange> AtspiAccessibility::selectedTextRange(const Element &element)
{
    const std::lock_guard lock(m_mutex);
    Ref<AtspiText> text{atspi_accessible_get_text_iface(objectOf(element))};
    if (!text)
        return {Error::noValue, {}};
    int start = 0, end = 0;
    Error failure = Error::success;
    if (!selectionOf(text.get(), &start, &end, &failure))
        return {failure, {}};
    return {Error::success, TextRange{start, end - start}};
}

Accessibility::Result<QString> AtspiAccessibility::selectedText(const Element &element)
{
    const std::lock_guard lock(m_mutex);
    AtspiAccessible *object = objectOf(element);
    Ref<AtspiText> text{atspi_accessible_get_text_iface(object)};
    if (!text || isPassword(object))
        return {Error::noValue, {}};
    int start = 0, end = 0;
    Error failure = Error::success;
    if (!selectionOf(text.get(), &start, &end, &failure))
        return {failure, {}};
    GError *error = nullptr;
    const auto selected = takeText(atspi_text_get_text(text.get(), start, end, &error), error);
    if (!selected)
        return {Error::cannotComplete, {}};
    return {Error::success, *selected};
}

Accessibility::Error AtspiAccessibility::setSelectedText(const Element &element, const QString &text)
{
    const std::lock_guard lock(m_mutex);
    AtspiAccessible *object = objectOf(element);
    Ref<AtspiText> textIface{atspi_accessible_get_text_iface(object)};
    Ref<AtspiEditableText> editable{atspi_accessible_get_editable_text_iface(object)};
    if (!textIface || !editable || !isWritable(object))
        return Error::notSettable;
    int start = 0, end = 0;
    Error failure = Error::success;
    if (!selectionOf(textIface.get(), &start, &end, &failure))
        return failure;
    GError *error = nullptr;
    if (end > start) {
        const gboolean deleted = atspi_editable_text_delete_text(editable.get(), start, end, &error);
        if ((failure = errorFrom(error)) != Error::success)
            return failure;
        if (!deleted)
            return Error::failure;
    }
    const QByteArray utf8 = text.toUtf8();
    const bool utf16 = countsUtf16(object);
    const gboolean inserted = atspi_editable_text_insert_text(
        editable.get(), start, utf8.constData(), utf16 ? int(text.size()) : int(utf8.size()), &error);
    if ((failure = errorFrom(error)) != Error::success)
        return failure;
    if (!inserted)
        return Error::failure;
    // the caret after the insertion, as typing would leave it
    atspi_text_set_caret_offset(textIface.get(), start + int(utf16 ? text.size() : text.toUcs4().size()), &error);
    g_clear_error(&error);
    return Error::success;
}

Accessibility::Error AtspiAccessibility::setValue(const Element &element, const QString &text)
{
    const std::lock_guard lock(m_mutex);
    AtspiAccessible *object = objectOf(element);
    Ref<AtspiEditableText> editable{atspi_accessible_get_editable_text_iface(object)};
    if (!editable || !isWritable(object))
        return Error::notSettable;
    GError *error = nullptr;
    const gboolean set = atspi_editable_text_set_text_contents(editable.get(), text.toUtf8().constData(), &error);
    if (const Error failure = errorFrom(error); failure != Error::success)
        return failure;
    return set ? Error::success : Error::failure;
}
