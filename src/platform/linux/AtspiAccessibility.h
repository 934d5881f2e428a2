#pragma once

#include "platform/Accessibility.h"

#include <chrono>
#include <mutex>

class X11Connection;

// Accessibility through AT-SPI2 (libatspi). Every call is a blocking D-Bus
// round trip, so all of them carry a short timeout: an application that hangs
// costs us at most that long instead of freezing the dictation. Callable from
// any thread: libatspi and the X connection (its own) serve one caller at a
// time.
class AtspiAccessibility : public Accessibility {
public:
    static constexpr std::chrono::milliseconds callTimeout{500};
    // Bounds on the search for the focus in one application.
    static constexpr int searchLimit = 5000;
    static constexpr std::chrono::milliseconds searchTimeLimit{500};

    explicit AtspiAccessibility(X11Connection &x11);
    ~AtspiAccessibility() override;

    // The desktop has accessibility switched on and its bus answers.
    bool isProcessTrusted() override;
    // Switches the bus's IsEnabled status on, and the desktop's
    // toolkit-accessibility setting where the desktop has one.
    bool requestAccess() override;
    Result<ElementPtr> focusedElement(qint64 processIdentifier) override;
    Result<QString> role(const Element &element) override;
    Result<QVariant> value(const Element &element) override;
    Result<TextRange> selectedTextRange(const Element &element) override;
    Result<QString> selectedText(const Element &element) override;
    Error setSelectedText(const Element &element, const QString &text) override;
    Error setValue(const Element &element, const QString &text) override;

private:
    // Called with m_mutex held.
    bool connect();
    std::mutex m_mutex;
    X11Connection &m_x11;
    bool m_initialized = false;
};
