#pragma once

#include <QFuture>
#include <QtGlobal>

// Posts synthetic key presses from the one thread that owns the key
// synthesizer, whose display connection must not be shared between threads,
// and whose wait for the user's chord must not block the caller.
class KeyPressSender {
public:
    virtual ~KeyPressSender() = default;

    // True once the press was posted; false, logged, when it could not be made.
    virtual QFuture<bool> postKeyPress(quint16 keyCode, quint64 flags) = 0;
};
