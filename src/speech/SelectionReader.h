#pragma once

#include "platform/Pasteboard.h"

#include <QFuture>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

class Accessibility;
class KeySynthesizer;
class MonotonicClock;
class Workspace;

// Reads the text selected in the frontmost application: through
// accessibility, else by a synthetic copy whose clipboard change is undone.
// Lives on the main thread and never blocks it.
class SelectionReader : public QObject {
    Q_OBJECT
public:
    // How long a copy may take to reach the clipboard.
    static constexpr std::chrono::milliseconds copyTimeout{500};
    static constexpr std::chrono::milliseconds copyPollInterval{10};

    SelectionReader(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                    KeySynthesizer &keys, MonotonicClock &clock, QObject *parent = nullptr);

    // None when no application is in front or nothing could be read.
    QFuture<std::optional<QString>> readSelectedText();
    // The text a copy command put on the clipboard; none when the clipboard
    // did not change in time. The clipboard then holds, in every format,
    // what it held before.
    QFuture<std::optional<QString>> copySelectionViaClipboard();

private:
    struct Copy;
    void awaitCopy(std::shared_ptr<Copy> copy);

    Workspace &m_workspace;
    Accessibility &m_accessibility;
    Pasteboard &m_pasteboard;
    KeySynthesizer &m_keys;
    MonotonicClock &m_clock;
};
