#pragma once

#include "platform/KeySynthesizer.h"

#include <QList>

#include <functional>

// Records key presses; onPress lets a test play the application that
// receives them (for instance, one that pastes).
class FakeKeySynthesizer : public KeySynthesizer {
public:
    struct Press {
        quint16 keyCode;
        quint64 flags;
        friend bool operator==(const Press &, const Press &) = default;
    };

    QList<Press> presses;
    bool failing = false;
    std::function<void(const Press &)> onPress;

    bool postKeyPress(quint16 keyCode, quint64 flags) override
    {
        if (failing)
            return false;
        presses << Press{keyCode, flags};
        if (onPress)
            onPress(presses.last());
        return true;
    }
};
