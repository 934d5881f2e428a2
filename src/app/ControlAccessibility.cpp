#include "app/ControlAccessibility.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QPointer>
#include <QQuickItem>

namespace {

// Set while the layer asks Qt Quick for the interface it wraps.
bool g_askingQtQuick = false;

bool coversControl(QObject *object)
{
    return object && (object->inherits("QQuickControl") || object->inherits("QQuickTextInput")
                      || object->inherits("QQuickTextEdit"));
}

// The item's Accessible properties as its view sets them, if any.
const QObject *accessibleAttached(const QQuickItem &item)
{
    for (const QObject *child : item.children()) {
        if (child->inherits("QQuickAccessibleAttached"))
            return child;
    }
    return nullptr;
}

// Qt Quick's interface of the control, as it is, but disabled while the
// control is, doing nothing then, and listing each action once (Qt Quick
// lists an action both for the control's role and for its handler).
class EnabledStateAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    EnabledStateAccessible(QQuickItem *item, QAccessibleInterface *inner)
        : m_item(item)
        , m_inner(inner)
        , m_innerId(QAccessible::uniqueId(inner))
    {
        QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
            QAccessible::State changed;
            changed.disabled = true;
            QAccessibleStateChangeEvent event(item, changed);
            QAccessible::updateAccessibility(&event);
        });
    }
    // Qt Quick's interface is in the accessibility cache under an id of its
    // own, which nothing hands out: it goes with this one.
    ~EnabledStateAccessible() override
    {
        if (QAccessible::accessibleInterface(m_innerId) == m_inner)
            QAccessible::deleteAccessibleInterface(m_innerId);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = m_inner->state();
        if (m_item && !m_item->isEnabled()) {
            state.disabled = true;
            state.focusable = false;
        }
        return state;
    }

    bool isValid() const override { return m_item && m_inner->isValid(); }
    // the one call made after the cache, going down at exit, may have deleted Qt Quick's
    QObject *object() const override { return m_item; }
    QWindow *window() const override { return m_inner->window(); }
    QList<QPair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        return m_inner->relations(match);
    }
    QAccessibleInterface *focusChild() const override { return m_inner->focusChild(); }
    QAccessibleInterface *childAt(int x, int y) const override { return m_inner->childAt(x, y); }
    QAccessibleInterface *parent() const override { return m_inner->parent(); }
    QAccessibleInterface *child(int index) const override { return m_inner->child(index); }
    int childCount() const override { return m_inner->childCount(); }
    int indexOfChild(const QAccessibleInterface *child) const override { return m_inner->indexOfChild(child); }
    QString text(QAccessible::Text t) const override { return m_inner->text(t); }
    void setText(QAccessible::Text t, const QString &text) override { m_inner->setText(t, text); }
    QRect rect() const override { return m_inner->rect(); }
    // A popup reports itself a dialog whatever role its view gives it.
    QAccessible::Role role() const override
    {
        const QObject *attached = m_item ? accessibleAttached(*m_item) : nullptr;
        const auto given = attached ? QAccessible::Role(attached->property("role").toInt()) : QAccessible::NoRole;
        return given != QAccessible::NoRole ? given : m_inner->role();
    }
    QColor foregroundColor() const override { return m_inner->foregroundColor(); }
    QColor backgroundColor() const override { return m_inner->backgroundColor(); }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return m_inner->actionInterface() ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
        return m_inner->interface_cast(type);
    }

    // What the control does comes first, where a screen reader looks for it:
    // Qt Quick lists Press after taking the focus when the view offers it.
    QStringList actionNames() const override
    {
        QStringList names = m_inner->actionInterface()->actionNames();
        names.removeDuplicates();
        if (names.removeOne(QAccessibleActionInterface::setFocusAction()))
            names.append(QAccessibleActionInterface::setFocusAction());
        return names;
    }
    void doAction(const QString &actionName) override
    {
        if (!m_item || !m_item->isEnabled())
            return;
        // A screen reader moves the focus for a keyboard user: the control
        // rings as it does for Tab (Qt Quick gives no reason, and no ring).
        if (actionName == QAccessibleActionInterface::setFocusAction())
            m_item->forceActiveFocus(Qt::ShortcutFocusReason);
        else
            m_inner->actionInterface()->doAction(actionName);
    }
    QStringList keyBindingsForAction(const QString &actionName) const override
    {
        return m_inner->actionInterface()->keyBindingsForAction(actionName);
    }
    void virtual_hook(int id, void *data) override { m_inner->virtual_hook(id, data); }

private:
    QPointer<QQuickItem> m_item;
    QAccessibleInterface *m_inner;
    QAccessible::Id m_innerId;
};

QAccessibleInterface *controlFactory(const QString &, QObject *object)
{
    if (g_askingQtQuick || !coversControl(object))
        return nullptr;
    g_askingQtQuick = true;
    QAccessibleInterface *inner = QAccessible::queryAccessibleInterface(object);
    g_askingQtQuick = false;
    return inner ? new EnabledStateAccessible(static_cast<QQuickItem *>(object), inner) : nullptr;
}

} // namespace

void ControlAccessibility::install()
{
    // the factory installed last is asked first
    QAccessible::removeFactory(controlFactory);
    QAccessible::installFactory(controlFactory);
}
