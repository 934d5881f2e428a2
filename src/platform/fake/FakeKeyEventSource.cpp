#include "FakeKeyEventSource.h"

bool FakeKeyEventSource::keyDown(quint16 keyCode, quint64 modifierFlags, bool isRepeat)
{
    return deliver({EventType::keyDown, keyCode, modifierFlags, isRepeat});
}

bool FakeKeyEventSource::keyUp(quint16 keyCode, quint64 modifierFlags)
{
    return deliver({EventType::keyUp, keyCode, modifierFlags, false});
}

bool FakeKeyEventSource::flagsChanged(quint64 modifierFlags)
{
    return deliver({EventType::flagsChanged, 0, modifierFlags, false});
}
