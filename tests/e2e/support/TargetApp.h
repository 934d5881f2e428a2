#pragma once

#include "ChildProcess.h"

#include <QString>

#include <chrono>

// Our target application: a window with a line edit, a text area and a
// password field, each writing its whole content to a file on every change,
// so a test sees what landed without going through the desktop; the key
// chords the fields receive are logged the same way. Driven by
// one-line commands on its stdin; each waits for the target's answer.
class TargetApp {
public:
    enum Field { lineEdit, textArea, passwordEdit };

    // Use DesktopHarness::startTarget().
    TargetApp(const QString &directory, const QString &logFile);
    ~TargetApp() { stop(); }
    bool start(bool accessible);
    void stop();

    qint64 pid() const { return m_process.pid(); }
    // The X window id of its top-level window.
    quint64 windowId() const { return m_windowId; }
    QString errorString() const { return m_error; }

    // Activates the window and gives the field the keyboard focus.
    bool focus(Field field);
    // Replaces the field's content (the caret goes to the end).
    bool setText(Field field, const QString &text);
    // Selects [start, end) in the field, in UTF-16 positions.
    bool select(Field field, int start, int end);
    bool setReadOnly(Field field, bool readOnly);
    // Puts a plain text and an HTML form on the clipboard, owned by the target.
    bool copyToClipboard(const QString &text, const QString &html);

    // The field's content as the target last wrote it.
    QString text(Field field) const;
    QString textFile(Field field) const;
    // The key chords the fields received, oldest first, as "Ctrl+Shift+V".
    QStringList keysReceived() const;
    bool waitForText(Field field, const QString &expected,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

private:
    bool command(const QString &line);
    static QString fieldName(Field field);

    QString m_directory;
    QString m_logFile;
    ChildProcess m_process;
    quint64 m_windowId = 0;
    QString m_error;
};
