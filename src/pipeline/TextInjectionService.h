#pragma once

#include "pipeline/KeyPressSender.h"
#include "pipeline/TextInjector.h"
#include "platform/Pasteboard.h"
#include "support/FutureWatch.h"
#include "support/SerialExecutor.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class Accessibility;
class KeySynthesizer;
class MonotonicClock;
class Platform;
class Workspace;

struct TextInjectionDelays {
    // Pause before the paste chord, so the clipboard owner change is seen.
    std::chrono::milliseconds paste{50};
    // Time the target gets to read the pasted text before the restore.
    std::chrono::milliseconds restore{400};
};

// Types a finished transcript into the focused text element of the
// frontmost application: through accessibility when the element takes it,
// else by pasting it through the clipboard, whose previous contents come
// back shortly afterwards unless something else has written to it since.
//
// Lives on the main thread and never blocks it: accessibility calls and
// synthetic keys run on a thread of their own (they wait on other
// processes), the clipboard stays on the main thread, pauses are timers.
// Every synthetic key of the application goes through that thread.
class TextInjectionService : public QObject, public TextInjector, public KeyPressSender {
    Q_OBJECT
public:
    using Delays = TextInjectionDelays;

    TextInjectionService(Workspace &workspace, Accessibility &accessibility, Pasteboard &pasteboard,
                         KeySynthesizer &keySynthesizer, MonotonicClock &clock, Delays delays = {},
                         QObject *parent = nullptr);
    // Over the desktop services of the platform.
    TextInjectionService(Platform &platform, MonotonicClock &clock, Delays delays = {}, QObject *parent = nullptr);
    ~TextInjectionService() override;

    const Delays &delays() const { return m_delays; }

    // Roles written through accessibility without further questions.
    static const QStringList &textRoles();

    // Whatever the text's source, both paths type it without control
    // characters and escape sequences (tabs and line breaks stay): they would
    // act as keys in the target.
    //
    // Finishes once the text went in, or was pasted (the restore follows
    // later); never fails. An empty text does nothing.
    QFuture<void> inject(const QString &text) override;
    // True when the focused element of the frontmost application accepted it.
    QFuture<bool> insertViaAccessibility(const QString &text);
    // Finishes after the paste chord; the restore runs delays().restore later.
    QFuture<void> pasteViaClipboard(const QString &text);
    QFuture<bool> postKeyPress(quint16 keyCode, quint64 flags) override;
    // Puts items back when the only write since the clipboard stood at
    // expectedChangeCount was our paste; otherwise leaves it to whoever wrote.
    void restorePasteboard(int expectedChangeCount, const PasteboardContents &items);

private:
    // Our latest paste while its restore is still due.
    struct PendingRestore {
        int changeCount = 0; // the count right after our write
        PasteboardContents previous;
    };

    bool insertInto(qint64 processIdentifier, const QString &text);
    PasteboardContents contentsToRestore() const;

    Workspace &m_workspace;
    Accessibility &m_accessibility;
    Pasteboard &m_pasteboard;
    KeySynthesizer &m_keySynthesizer;
    MonotonicClock &m_clock;
    const Delays m_delays;
    std::optional<PendingRestore> m_pendingRestore;
    // Whatever the desktop thread or a pause still owes a chain on this object
    // ends before it does.
    Futures::FollowedFutures m_followed;
    // declared last: destroyed, and so drained, first
    SerialExecutor m_desktopThread{QStringLiteral("text-injection")};
};
