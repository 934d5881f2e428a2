#pragma once

#include "platform/Accessibility.h"

#include <QHash>
#include <QStringList>

#include <optional>

class QThread;

// An in-memory element tree of one level: a focused element per process.
// Each element behaves like a simple text field unless told otherwise.
class FakeAccessibility : public Accessibility {
public:
    struct FakeElement : Element {
        QString role = QStringLiteral("AXTextField");
        // nullopt = the value cannot be read
        std::optional<QVariant> value = QVariant(QString());
        // nullopt = the selected range cannot be read
        std::optional<TextRange> selection = TextRange{};
        bool editable = true;
        bool password = false;
    };

    bool trusted = true;
    // What requestAccess() makes of trusted.
    bool grantOnRequest = true;
    // Returned by focusedElement() instead of an element when not success.
    Error focusError = Error::success;
    // Every operation called, by name ("focusedElement", "setValue", ...).
    QStringList calls;
    // Where the last isProcessTrusted() ran: on a desktop it waits on D-Bus.
    QThread *trustReadThread = nullptr;

    // Creates the focused element of a process; nullptr removes it.
    std::shared_ptr<FakeElement> focus(qint64 processIdentifier);
    void clearFocus(qint64 processIdentifier);

    bool isProcessTrusted() override;
    bool requestAccess() override;
    Result<ElementPtr> focusedElement(qint64 processIdentifier) override;
    Result<QString> role(const Element &element) override;
    Result<QVariant> value(const Element &element) override;
    Result<TextRange> selectedTextRange(const Element &element) override;
    Result<QString> selectedText(const Element &element) override;
    Error setSelectedText(const Element &element, const QString &text) override;
    Error setValue(const Element &element, const QString &text) override;

private:
    QHash<qint64, std::shared_ptr<FakeElement>> m_focused;
};
