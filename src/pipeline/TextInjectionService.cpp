#include "TextInjectionService.h"

#include "platform/Accessibility.h"
#include "platform/KeySynthesizer.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "support/Log.h"
#include "support/TextUtils.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <optional>

namespace {
constexpr const char *kTag = "TextInjection";
constexpr const char *kAxTag = "TextInjection-AX";

// Our latest paste while its restore is still due. A second paste before
// then must save what the user had, not our first transcript, or the user's
// clipboard would be lost for good.
struct PendingRestore {
    QPointer<Pasteboard> pasteboard;
    int changeCount = 0; // the count right after our write
    PasteboardContents previous;
};
std::optional<PendingRestore> &pendingRestore()
{
    static std::optional<PendingRestore> pending;
    return pending;
}

PasteboardContents contentsToRestore(Pasteboard &pasteboard)
{
    const auto &pending = pendingRestore();
    if (pending && pending->pasteboard == &pasteboard && pasteboard.changeCount() == pending->changeCount)
        return pending->previous;
    return pasteboard.contents();
}

int code(Accessibility::Error error)
{
    return int(error);
}
} // namespace

const QStringList &TextInjectionService::textRoles()
{
    static const QStringList roles{QStringLiteral("AXTextField"), QStringLiteral("AXTextArea"),
                                   QStringLiteral("AXComboBox"), QStringLiteral("AXSearchField"),
                                   QStringLiteral("AXWebArea")};
    return roles;
}

void TextInjectionService::inject(const QString &text)
{
    if (text.isEmpty())
        return;
    if (insertViaAccessibility(text)) {
        logLine(kTag, QStringLiteral("Injected via Accessibility API (%1 chars)").arg(TextUtils::graphemeCount(text)));
        return;
    }
    logLine(kTag, "Accessibility failed, trying clipboard paste");
    pasteViaClipboard(text);
}

bool TextInjectionService::insertViaAccessibility(const QString &text)
{
    Platform &platform = Platform::instance();
    const std::optional<RunningApplication> app = platform.workspace().frontmostApplication();
    if (!app) {
        logLine(kAxTag, "No frontmost app");
        return false;
    }
    Accessibility &ax = platform.accessibility();
    const auto focused = ax.focusedElement(app->processIdentifier);
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

void TextInjectionService::pasteViaClipboard(const QString &text)
{
    Pasteboard &pasteboard = Platform::instance().pasteboard();
    const int savedCount = pasteboard.changeCount();
    // every format, so rich contents come back whole
    const PasteboardContents saved = contentsToRestore(pasteboard);
    pasteboard.setString(text);
    pendingRestore() = PendingRestore{&pasteboard, pasteboard.changeCount(), saved};

    QThread::msleep(pasteDelay.count());
    postKeyPress(Key::v, ModifierFlag::command);
    logLine(kTag, QStringLiteral("Pasted via Cmd+V (%1 chars)").arg(TextUtils::graphemeCount(text)));

    QTimer::singleShot(restoreDelay, &pasteboard, [&pasteboard, savedCount, saved] {
        restorePasteboard(pasteboard, savedCount, saved);
    });
}

void TextInjectionService::postKeyPress(quint16 keyCode, quint64 flags)
{
    if (!Platform::instance().keySynthesizer().postKeyPress(keyCode, flags))
        logLine(kTag, QStringLiteral("Failed to create CGEvent for keyCode %1").arg(keyCode));
}

void TextInjectionService::restorePasteboard(Pasteboard &pasteboard, int expectedChangeCount,
                                             const PasteboardContents &items)
{
    auto &pending = pendingRestore();
    if (pending && pending->pasteboard == &pasteboard && pending->changeCount == expectedChangeCount + 1)
        pending.reset();
    if (pasteboard.changeCount() != expectedChangeCount + 1)
        return;
    pasteboard.setContents(items);
}
