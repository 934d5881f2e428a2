#include "AccessibleTree.h"

#include <atspi/atspi.h>

#include <functional>

namespace {

// Calls visit on every object below (and including) object, depth first;
// visit returns false to stop the walk.
bool walk(AtspiAccessible *object, int depth, const std::function<bool(AtspiAccessible *, int)> &visit)
{
    if (!visit(object, depth))
        return false;
    const gint count = atspi_accessible_get_child_count(object, nullptr);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible *child = atspi_accessible_get_child_at_index(object, i, nullptr);
        if (!child)
            continue;
        const bool more = walk(child, depth + 1, visit);
        g_object_unref(child);
        if (!more)
            return false;
    }
    return true;
}

// The application object of the process, with its cache off: windows opened
// since the last walk are missing from a cached tree. Unref it.
AtspiAccessible *application(qint64 pid)
{
    atspi_init();
    AtspiAccessible *desktop = atspi_get_desktop(0);
    AtspiAccessible *found = nullptr;
    for (gint i = 0; !found && i < atspi_accessible_get_child_count(desktop, nullptr); ++i) {
        AtspiAccessible *app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (app && atspi_accessible_get_process_id(app, nullptr) == guint(pid)) {
            atspi_accessible_set_cache_mask(app, ATSPI_CACHE_NONE);
            atspi_accessible_clear_cache(app);
            found = app;
        } else if (app) {
            g_object_unref(app);
        }
    }
    g_object_unref(desktop);
    return found;
}

QString takeString(gchar *text)
{
    const QString result = QString::fromUtf8(text);
    g_free(text);
    return result;
}

AccessibleTree::Object describe(AtspiAccessible *object, int depth)
{
    AccessibleTree::Object found;
    found.depth = depth;
    found.name = takeString(atspi_accessible_get_name(object, nullptr));
    found.role = takeString(atspi_accessible_get_role_name(object, nullptr));
    found.description = takeString(atspi_accessible_get_description(object, nullptr));
    if (AtspiAction *action = atspi_accessible_get_action_iface(object)) {
        // every object may take the focus; the others are what a user acts on
        for (gint i = 0; i < atspi_action_get_n_actions(action, nullptr); ++i) {
            found.actions.append(takeString(atspi_action_get_name(action, i, nullptr)));
            found.actionable = found.actionable || found.actions.last() != QLatin1String("SetFocus");
        }
        g_object_unref(action);
    }
    if (AtspiComponent *component = atspi_accessible_get_component_iface(object)) {
        if (AtspiRect *rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
            found.extents = QRect(rect->x, rect->y, rect->width, rect->height);
            g_free(rect);
        }
        g_object_unref(component);
    }
    AtspiStateSet *states = atspi_accessible_get_state_set(object);
    found.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    found.focused = atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
    found.enabled = atspi_state_set_contains(states, ATSPI_STATE_ENABLED)
                    && atspi_state_set_contains(states, ATSPI_STATE_SENSITIVE);
    found.selected = atspi_state_set_contains(states, ATSPI_STATE_SELECTED)
                     || atspi_state_set_contains(states, ATSPI_STATE_CHECKED);
    g_object_unref(states);
    return found;
}

} // namespace

QList<AccessibleTree::Object> AccessibleTree::of(qint64 pid)
{
    QList<Object> found;
    if (AtspiAccessible *app = application(pid)) {
        walk(app, 0, [&](AtspiAccessible *object, int depth) {
            found.append(describe(object, depth));
            return true;
        });
        g_object_unref(app);
    }
    return found;
}

QList<AccessibleTree::Object> AccessibleTree::window(qint64 pid, const QString &title)
{
    QList<Object> found;
    bool inside = false;
    for (const Object &object : of(pid)) {
        if (object.depth == 1)
            inside = object.name == title && object.showing;
        if (inside)
            found.append(object);
    }
    return found;
}

const AccessibleTree::Object *AccessibleTree::find(const QList<Object> &tree, const QString &name, const QString &role)
{
    for (const Object &object : tree) {
        if (object.name == name && (role.isEmpty() || object.role == role))
            return &object;
    }
    return nullptr;
}

namespace {

// Calls use on the first object of this role named name; false when there is
// none or use fails.
bool useFirstNamed(qint64 pid, const QString &name, const QString &role,
                   const std::function<bool(AtspiAccessible *)> &use)
{
    AtspiAccessible *app = application(pid);
    if (!app)
        return false;
    bool done = false;
    walk(app, 0, [&](AtspiAccessible *object, int) {
        const AccessibleTree::Object found = describe(object, 0);
        if (found.name != name || (!role.isEmpty() && found.role != role))
            return true;
        done = use(object);
        return false;
    });
    g_object_unref(app);
    return done;
}

} // namespace

bool AccessibleTree::act(qint64 pid, const QString &name, const QString &role)
{
    return useFirstNamed(pid, name, role, [](AtspiAccessible *object) {
        AtspiAction *action = atspi_accessible_get_action_iface(object);
        if (!action)
            return false;
        const bool done = atspi_action_do_action(action, 0, nullptr);
        g_object_unref(action);
        return done;
    });
}

std::optional<AccessibleTree::Object> AccessibleTree::focused(qint64 pid, const QString &window)
{
    // the innermost: a dialog holding the focused field is focused too
    std::optional<Object> found;
    for (const Object &object : AccessibleTree::window(pid, window)) {
        if (object.focused)
            found = object;
    }
    return found;
}

bool AccessibleTree::grabFocus(qint64 pid, const QString &name, const QString &role)
{
    return useFirstNamed(pid, name, role, [](AtspiAccessible *object) {
        AtspiComponent *component = atspi_accessible_get_component_iface(object);
        if (!component)
            return false;
        const bool done = atspi_component_grab_focus(component, nullptr);
        g_object_unref(component);
        return done;
    });
}
