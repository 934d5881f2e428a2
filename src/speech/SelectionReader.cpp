#include "SelectionReader.h"

#include "platform/Accessibility.h"
#include "platform/KeySynthesizer.h"
#include "platform/Workspace.h"
#include "support/MonotonicClock.h"

#include <QPromise>

struct SelectionReader::Copy {
    int changeCount = 0;
    PasteboardContents saved;
    MonotonicClock::Duration deadline{};
    QPromise<std::optional<QString>> promise;
};

namespace {
QFuture<std::optional<QString>> ready(std::optional<QString> text)
{
    return QtFuture::makeReadyFuture(std::move(text));
}
} // namespace

SelectionReader::SelectionReader(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                                 KeySynthesizer &keys, MonotonicClock &clock, QObject *parent)
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
    auto copy = std::make_shared<Copy>();
    copy->changeCount = m_pasteboard.changeCount();
    copy->saved = m_pasteboard.contents();
    copy->promise.start();
    QFuture<std::optional<QString>> future = copy->promise.future();
    // the backend makes this the focused application's copy chord
    // (Ctrl+Shift+C in a terminal, where Ctrl+C would interrupt)
    if (!m_keys.postKeyPress(Key::c, ModifierFlag::command)) {
        copy->promise.addResult(std::nullopt);
        copy->promise.finish();
        return future;
    }
    copy->deadline = m_clock.now() + copyTimeout;
    awaitCopy(std::move(copy));
    return future;
}

void SelectionReader::awaitCopy(std::shared_ptr<Copy> copy)
{
    if (m_pasteboard.changeCount() != copy->changeCount) {
        const QString text = m_pasteboard.string();
        m_pasteboard.setContents(copy->saved);
        copy->promise.addResult(text.isEmpty() ? std::nullopt : std::optional<QString>(text));
        copy->promise.finish();
        return;
    }
    if (m_clock.now() >= copy->deadline) {
        // nothing was copied: whatever the clipboard holds is not the selection
        copy->promise.addResult(std::nullopt);
        copy->promise.finish();
        return;
    }
    m_clock.callAfter(copyPollInterval, this, [this, copy] { awaitCopy(copy); });
}
