#pragma once

#include "support/SerialExecutor.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

class Accessibility;

// The settings' Accessibility row: whether the desktop lets us read and write
// other applications. A read is a round trip over D-Bus that may wait out a
// timeout, so reads and requests run on a thread of their own and the row
// follows when the answer comes. Main thread.
class AccessibilityStatus : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")
    // Until the first answer neither state is shown.
    Q_PROPERTY(bool known READ known NOTIFY changed)
    Q_PROPERTY(bool trusted READ trusted NOTIFY changed)

public:
    explicit AccessibilityStatus(Accessibility &accessibility, QObject *parent = nullptr);

    bool known() const { return m_known; }
    bool trusted() const { return m_trusted; }

    // Reads the state afresh: the user may grant it at any time. A read
    // already under way answers for this one too.
    Q_INVOKABLE void refresh();
    // Asks the desktop to turn accessibility on; the outcome shows at the
    // next refresh.
    Q_INVOKABLE void request();

signals:
    void changed();

private:
    Accessibility &m_accessibility;
    bool m_known = false;
    bool m_trusted = false;
    bool m_reading = false;
    // last: its jobs end before the rest goes
    SerialExecutor m_bus{QStringLiteral("accessibility-status")};
};
