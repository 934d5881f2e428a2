#include "TextInjectionService.h"

#include "platform/Platform.h"

#include "platform/Accessibility.h"
#include "platform/KeySynthesizer.h"
#include "platform/Workspace.h"
#include "support/ControlCharacters.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/MonotonicClock.h"
#include "support/TextUtils.h"

#include <QFuture>

namespace {
constexpr const char *kTag = "TextInjection";
constexpr const char *kAxTag = "TextInjection-AX";

int code(Accessibility::Error error)
{
    return int(error);
}
} // namespace

TextInjectionService::TextInjectionService(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                                           KeySynthesizer &keySynthesizer, MonotonicClock &clock, Delays delays,
                                           QObject *parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_accessibility(accessibility)
    , m_pasteboard(pasteboard)
    , m_keySynthesizer(keySynthesizer)
    , m_clock(clock)
    , m_delays(delays)
{
}

TextInjectionService::TextInjectionService(Platform &platform, MonotonicClock &clock, Delays delays, QObject *parent)
    : TextInjectionService(platform.workspace(), platform.accessibility(), platform.pasteboard(),
                           platform.keySynthesizer(), clock, delays, parent)
{
}

TextInjectionService::~TextInjectionService() = default;

const QStringList &TextInjectionService::textRoles()
{
    static const QStringList roles{QStringLiteral("AXTextField"), QStringLiteral("AXTextArea"),
                                   QStringLiteral("AXComboBox"), QStringLiteral("AXSearchField"),
                                   QStringLiteral("AXWebArea")};
    return roles;
}

// Every text typed anywhere passes here: the one place control keys are taken out.
QFuture<void> TextInjectionService::inject(const QString &untrusted)
{
    const QString text = ControlCharacters::removedForOutput(untrusted);
    if (text.isEmpty())
        return QtFuture::makeReadyFuture();
    return insertViaAccessibility(text)
        .then(this,
              [this, text](bool inserted) {
                  if (inserted) {
                      logLine(kTag, QStringLiteral("Injected via Accessibility API (%1 chars)")
                                        .arg(TextUtils::graphemeCount(text)));
                      return QtFuture::makeReadyFuture();
                  }
                  logLine(kTag, "Accessibility failed, trying clipboard paste");
                  return pasteViaClipboard(text);
              })
        .unwrap();
}

QFuture<bool> TextInjectionService::insertViaAccessibility(const QString &text)
{
    const std::optional<RunningApplication> app = m_workspace.frontmostApplication();
    if (!app) {
        logLine(kAxTag, "No frontmost app");
        return QtFuture::makeReadyFuture(false);
    }
    const qint64 pid = app->processIdentifier;
    return m_followed.follow(m_desktopThread.run([this, pid, text] { return insertInto(pid, text); }));
}

// On the desktop thread: every call here waits on the target application.
bool TextInjectionService::insertInto(qint64 processIdentifier, const QString &text)
{
    Accessibility &ax = m_accessibility;
    const auto focused = ax.focusedElement(processIdentifier);
    if (!focused.ok() || !focused.value) {
        logLine(kAxTag, QStringLiteral("No focused element (error: %1)").arg(code(focused.error)));
        return false;
    }
    const Accessibility::Element &element = *focused.value;
    const auto roleRead = ax.role(element);
    const QString role = roleRead.ok() ? roleRead.value : QString();
    const bool isTextRole = textRoles().contains(role);

    const auto valueRead = ax.value(element);
    const bool valueIsText = valueRead.ok() && valueRead.value.typeId() == QMetaType::QString;
    // Another role counts as text only when its value reads as text: a
    // slider's number or a button must never be written into.
    if ((!isTextRole && !valueRead.ok()) || (valueRead.ok() && !valueIsText)) {
        logLine(kAxTag, QStringLiteral("Focused element is not a text field (role: %1)").arg(role));
        return false;
    }

    if (ax.selectedTextRange(element).ok()) {
        if (ax.setSelectedText(element, text) == Accessibility::Error::success) {
            logLine(kAxTag, "Inserted via selectedText replacement");
            return true;
        }
    }

    // Appending rewrites the whole value, so it is only safe when the value
    // was read; otherwise the field's content would be lost.
    if (!valueIsText) {
        logLine(kAxTag, QStringLiteral("Value not readable as text, not replacing it (error: %1)")
                            .arg(code(valueRead.error)));
        return false;
    }
    const Accessibility::Error setError = ax.setValue(element, valueRead.value.toString() + text);
    if (setError == Accessibility::Error::success) {
        logLine(kAxTag, "Set via AXValue (appended)");
        return true;
    }
    logLine(kAxTag, QStringLiteral("Failed to set value (error: %1)").arg(code(setError)));
    return false;
}

// A second paste before the first one's restore must save what the user had,
// not our first transcript, or the user's clipboard would be lost for good.
PasteboardContents TextInjectionService::contentsToRestore() const
{
    if (m_pendingRestore && m_pasteboard.changeCount() == m_pendingRestore->changeCount)
        return m_pendingRestore->previous;
    return m_pasteboard.contents();
}

QFuture<void> TextInjectionService::pasteViaClipboard(const QString &text)
{
    const int savedCount = m_pasteboard.changeCount();
    // every format, so rich contents come back whole
    const PasteboardContents saved = contentsToRestore();
    m_pasteboard.setString(text);
    m_pendingRestore = PendingRestore{m_pasteboard.changeCount(), saved};

    return m_followed.follow(m_clock.sleep(m_delays.paste, this))
        .then(this, [this] { return postKeyPress(Key::v, ModifierFlag::command); })
        .unwrap()
        .then(this, [this, text, savedCount, saved](bool) {
            logLine(kTag, QStringLiteral("Pasted via Cmd+V (%1 chars)").arg(TextUtils::graphemeCount(text)));
            m_clock.callAfter(m_delays.restore, this, [this, savedCount, saved] { restorePasteboard(savedCount, saved); });
        });
}

QFuture<bool> TextInjectionService::postKeyPress(quint16 keyCode, quint64 flags)
{
    // The synthesizer may wait for the user to let go of the dictation chord.
    return m_followed
        .follow(m_desktopThread.run([this, keyCode, flags] { return m_keySynthesizer.postKeyPress(keyCode, flags); }))
        .then(this, [keyCode](bool posted) {
            if (!posted)
                logLine(kTag, QStringLiteral("Failed to create CGEvent for keyCode %1").arg(keyCode));
            return posted;
        });
}

void TextInjectionService::restorePasteboard(int expectedChangeCount, const PasteboardContents &items)
{
    if (m_pendingRestore && m_pendingRestore->changeCount == expectedChangeCount + 1)
        m_pendingRestore.reset();
    if (m_pasteboard.changeCount() != expectedChangeCount + 1)
        return;
    m_pasteboard.setContents(items);
}
