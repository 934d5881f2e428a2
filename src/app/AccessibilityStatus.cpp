#include "AccessibilityStatus.h"

#include "platform/Accessibility.h"

AccessibilityStatus::AccessibilityStatus(Accessibility &accessibility, QObject *parent)
    : QObject(parent)
    , m_accessibility(accessibility)
{
}

void AccessibilityStatus::refresh()
{
    if (m_reading)
        return;
    m_reading = true;
    Accessibility &accessibility = m_accessibility;
    m_bus.run([&accessibility] { return accessibility.isProcessTrusted(); }).then(this, [this](bool trusted) {
        m_reading = false;
        if (m_known && m_trusted == trusted)
            return;
        m_known = true;
        m_trusted = trusted;
        emit changed();
    });
}

void AccessibilityStatus::request()
{
    Accessibility &accessibility = m_accessibility;
    m_bus.post([&accessibility] { accessibility.requestAccess(); });
}
