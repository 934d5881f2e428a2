#pragma once

#include "platform/Pasteboard.h"

#include <QString>
#include <QStringList>

#include <chrono>

// Types a finished transcript into the focused text element of the
// frontmost application: through accessibility when the element takes it,
// else by pasting it through the clipboard, whose previous contents come
// back shortly afterwards unless something else has written to it since.
// Stateless; call on the main thread.
class TextInjectionService {
public:
    TextInjectionService() = delete;

    // Pause before the paste chord, so the clipboard owner change is seen.
    static constexpr std::chrono::milliseconds pasteDelay{50};
    // Time the target gets to read the pasted text before the restore.
    static constexpr std::chrono::milliseconds restoreDelay{400};

    // Roles written through accessibility without further questions.
    static const QStringList &textRoles();

    // Never fails; an empty text does nothing.
    static void inject(const QString &text);
    // True when the focused element accepted the text.
    static bool insertViaAccessibility(const QString &text);
    // Returns at once; the restore runs restoreDelay later on this thread.
    static void pasteViaClipboard(const QString &text);
    static void postKeyPress(quint16 keyCode, quint64 flags);
    // Puts items back when the only write since the clipboard stood at
    // expectedChangeCount was our paste; otherwise leaves it to whoever wrote.
    static void restorePasteboard(Pasteboard &pasteboard, int expectedChangeCount,
                                  const PasteboardContents &items);
};
