#include "AccessibleEvents.h"

#include <atspi/atspi.h>

struct AccessibleEvents::Listener {
    AtspiEventListener *listener = nullptr;
    QStringList types;
    QList<Event> events;

    static void heard(AtspiEvent *event, void *data)
    {
        auto *self = static_cast<Listener *>(data);
        Event heard;
        heard.type = QString::fromUtf8(event->type);
        heard.detail1 = event->detail1;
        if (event->source) {
            gchar *name = atspi_accessible_get_name(event->source, nullptr);
            gchar *role = atspi_accessible_get_role_name(event->source, nullptr);
            heard.name = QString::fromUtf8(name);
            heard.role = QString::fromUtf8(role);
            heard.pid = atspi_accessible_get_process_id(event->source, nullptr);
            g_free(name);
            g_free(role);
        }
        self->events.append(heard);
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }
};

AccessibleEvents::AccessibleEvents(const QStringList &types)
    : m_listener(std::make_unique<Listener>())
{
    atspi_init();
    m_listener->types = types;
    m_listener->listener = atspi_event_listener_new(&Listener::heard, m_listener.get(), nullptr);
    for (const QString &type : types)
        atspi_event_listener_register(m_listener->listener, type.toUtf8().constData(), nullptr);
}

AccessibleEvents::~AccessibleEvents()
{
    for (const QString &type : m_listener->types)
        atspi_event_listener_deregister(m_listener->listener, type.toUtf8().constData(), nullptr);
    g_object_unref(m_listener->listener);
}

const QList<AccessibleEvents::Event> &AccessibleEvents::events() const
{
    return m_listener->events;
}

void AccessibleEvents::clear()
{
    m_listener->events.clear();
}
