#include "SelectionReader.h"

#include "pipeline/KeyPressSender.h"
#include "platform/Accessibility.h"
#include "platform/KeyCodes.h"
#include "platform/Workspace.h"

namespace {
QFuture<std::optional<QString>> ready(std::optional<QString> text)
{
    return QtFuture::makeReadyFuture(std::move(text));
}
} // namespace

SelectionReader::SelectionReader(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                                 KeyPressSender &keys, MonotonicClock &clock, QObject *parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_accessibility(accessibility)
    , m_pasteboard(pasteboard)
    , m_keys(keys)
    , m_clock(clock)
{
}

QFuture<std::optional<QString>> SelectionReader::readSelectedText()
{
    const std::optional<RunningApplication> app = m_workspace.frontmostApplication();
    if (!app)
        return ready(std::nullopt);
    const auto focused = m_accessibility.focusedElement(app->processIdentifier);
    if (!focused.ok() || !focused.value)
        return copySelectionViaClipboard();
    const auto selected = m_accessibility.selectedText(*focused.value);
    if (selected.ok() && !selected.value.isEmpty())
        return ready(selected.value);
    return copySelectionViaClipboard();
}

QFuture<std::optional<QString>> SelectionReader::copySelectionViaClipboard()
{
    // while an earlier copy may still be answered, the clipboard may already
    // hold its answer: what is to come back is what the user had before it
    if (m_answersDue == 0 && m_pressesInFlight == 0) {
        m_usersClipboard = m_pasteboard.contents();
        m_countSeen = m_pasteboard.changeCount();
    }
    ++m_pressesInFlight;
    auto promise = std::make_shared<QPromise<std::optional<QString>>>();
    promise->start();
    QFuture<std::optional<QString>> future = promise->future();
    // the key sender makes this the focused application's copy chord
    // (Ctrl+Shift+C in a terminal, where Ctrl+C would interrupt)
    m_followed.follow(m_keys.postKeyPress(Key::c, ModifierFlag::command)).then(this, [this, promise](bool posted) {
        --m_pressesInFlight;
        Read read{std::move(*promise), m_clock.now() + copyTimeout};
        if (!posted) {
            finish(read, std::nullopt);
            return;
        }
        ++m_answersDue;
        m_watchUntil = read.deadline + lateCopyWatch;
        m_reads.push_back(std::move(read));
        if (!m_watching)
            watchClipboard();
    });
    return future;
}

void SelectionReader::watchClipboard()
{
    if (m_pasteboard.changeCount() != m_countSeen) {
        const QString text = m_pasteboard.string();
        m_pasteboard.setContents(m_usersClipboard);
        m_countSeen = m_pasteboard.changeCount();
        m_answersDue = std::max(0, m_answersDue - 1);
        if (!m_reads.empty()) {
            finish(m_reads.front(), text.isEmpty() ? std::nullopt : std::optional<QString>(text));
            m_reads.pop_front();
        }
    }
    const MonotonicClock::Duration now = m_clock.now();
    while (!m_reads.empty() && now >= m_reads.front().deadline) {
        // nothing was copied: whatever the clipboard holds is not the selection
        finish(m_reads.front(), std::nullopt);
        m_reads.pop_front();
    }
    m_watching = m_answersDue > 0 && now < m_watchUntil;
    if (m_watching)
        m_clock.callAfter(copyPollInterval, this, [this] { watchClipboard(); });
    else
        m_answersDue = 0; // an application that never answers
}

void SelectionReader::finish(Read &read, const std::optional<QString> &text)
{
    read.promise.addResult(text);
    read.promise.finish();
}
