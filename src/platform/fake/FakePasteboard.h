#pragma once

#include "platform/Pasteboard.h"

// A clipboard in memory; every write counts, as on a real desktop.
class FakePasteboard : public Pasteboard {
    Q_OBJECT
public:
    using Pasteboard::Pasteboard;

    int changeCount() const override { return m_changeCount; }
    PasteboardContents contents() const override { return m_contents; }
    QString string() const override;
    void setString(const QString &text) override;
    void setContents(const PasteboardContents &contents) override;

    // What writes from other applications look like.
    void simulateExternalWrite(const PasteboardContents &contents) { setContents(contents); }

    static QString plainTextType() { return QStringLiteral("text/plain"); }

private:
    PasteboardContents m_contents;
    int m_changeCount = 0;
};
