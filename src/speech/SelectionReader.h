#pragma once

#include "platform/Pasteboard.h"
#include "support/FutureWatch.h"
#include "support/MonotonicClock.h"

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>

class Accessibility;
class KeyPressSender;
class Workspace;

// Reads the text selected in the frontmost application: through
// accessibility, else by a synthetic copy whose clipboard change is undone.
// Lives on the main thread and never blocks it: the copy key goes out from
// the key sender's thread, the wait for its answer is a timer.
class SelectionReader : public QObject {
    Q_OBJECT
public:
    // How long a copy may take to reach the clipboard.
    static constexpr std::chrono::milliseconds copyTimeout{500};
    static constexpr std::chrono::milliseconds copyPollInterval{10};
    // How long after that a late answer is still undone: it would otherwise
    // replace the user's clipboard for good.
    static constexpr std::chrono::milliseconds lateCopyWatch{2000};

    SelectionReader(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                    KeyPressSender &keys, MonotonicClock &clock, QObject *parent = nullptr);

    // None when no application is in front or nothing could be read.
    QFuture<std::optional<QString>> readSelectedText();
    // The text a copy command put on the clipboard; none when the clipboard
    // did not change in time. The clipboard then holds, in every format,
    // what it held before.
    QFuture<std::optional<QString>> copySelectionViaClipboard();

private:
    struct Read {
        QPromise<std::optional<QString>> promise;
        MonotonicClock::Duration deadline{};
    };
    void watchClipboard();
    static void finish(Read &read, const std::optional<QString> &text);

    Workspace &m_workspace;
    Accessibility &m_accessibility;
    Pasteboard &m_pasteboard;
    KeyPressSender &m_keys;
    MonotonicClock &m_clock;

    // Every copy key we sent may still be answered; each answer is undone
    // back to the user's clipboard as it stood before the first of them.
    PasteboardContents m_usersClipboard;
    int m_countSeen = 0;
    int m_pressesInFlight = 0;
    int m_answersDue = 0;
    MonotonicClock::Duration m_watchUntil{};
    bool m_watching = false;
    // oldest first: an answer goes to the read that waited longest
    std::deque<Read> m_reads;
    // Last, so that it goes first: the key sender may outlive this object.
    Futures::FollowedFutures m_followed;
};
