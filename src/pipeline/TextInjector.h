#pragma once

#include <QFuture>
#include <QString>

// Types a finished text into whatever has the keyboard focus.
class TextInjector {
public:
    virtual ~TextInjector() = default;

    // Finishes once the text has been handed to the target (or the attempt
    // given up); never fails. An empty text does nothing.
    virtual QFuture<void> inject(const QString &text) = 0;
};
