#pragma once

#include "platform/Pasteboard.h"

class QClipboard;

// The X11 clipboard through Qt. Writes are counted from Qt's change
// notifications, which cover our own writes and other clients' alike.
class QtClipboardPasteboard : public Pasteboard {
    Q_OBJECT
public:
    explicit QtClipboardPasteboard(QObject *parent = nullptr);

    int changeCount() const override { return m_changeCount; }
    PasteboardContents contents() const override;
    QString string() const override;
    void setString(const QString &text) override;
    void setContents(const PasteboardContents &contents) override;

private:
    QClipboard *m_clipboard = nullptr;
    int m_changeCount = 0;
};
