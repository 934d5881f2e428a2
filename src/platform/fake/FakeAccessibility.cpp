#include "FakeAccessibility.h"

#include <QThread>

namespace {
using FakeElement = FakeAccessibility::FakeElement;

FakeElement &fake(const Accessibility::Element &element)
{
    return const_cast<FakeElement &>(static_cast<const FakeElement &>(element));
}
} // namespace

std::shared_ptr<FakeAccessibility::FakeElement> FakeAccessibility::focus(qint64 processIdentifier)
{
    auto element = std::make_shared<FakeElement>();
    m_focused.insert(processIdentifier, element);
    return element;
}

void FakeAccessibility::clearFocus(qint64 processIdentifier)
{
    m_focused.remove(processIdentifier);
}

bool FakeAccessibility::isProcessTrusted()
{
    trustReadThread = QThread::currentThread();
    return trusted;
}

bool FakeAccessibility::requestAccess()
{
    calls << QStringLiteral("requestAccess");
    trusted = trusted || grantOnRequest;
    return true;
}

Accessibility::Result<Accessibility::ElementPtr> FakeAccessibility::focusedElement(qint64 processIdentifier)
{
    calls << QStringLiteral("focusedElement");
    if (!trusted)
        return {Error::notTrusted, nullptr};
    if (focusError != Error::success)
        return {focusError, nullptr};
    return {Error::success, m_focused.value(processIdentifier)};
}

Accessibility::Result<QString> FakeAccessibility::role(const Element &element)
{
    calls << QStringLiteral("role");
    return {Error::success, fake(element).role};
}

Accessibility::Result<QVariant> FakeAccessibility::value(const Element &element)
{
    calls << QStringLiteral("value");
    const FakeElement &e = fake(element);
    if (!e.value || e.password)
        return {Error::noValue, {}};
    return {Error::success, *e.value};
}

Accessibility::Result<Accessibility::TextRange> FakeAccessibility::selectedTextRange(const Element &element)
{
    calls << QStringLiteral("selectedTextRange");
    const FakeElement &e = fake(element);
    if (!e.selection)
        return {Error::noValue, {}};
    return {Error::success, *e.selection};
}

Accessibility::Result<QString> FakeAccessibility::selectedText(const Element &element)
{
    calls << QStringLiteral("selectedText");
    const FakeElement &e = fake(element);
    if (!e.selection || !e.value || e.password || e.value->typeId() != QMetaType::QString)
        return {Error::noValue, {}};
    return {Error::success, e.value->toString().mid(e.selection->location, e.selection->length)};
}

Accessibility::Error FakeAccessibility::setSelectedText(const Element &element, const QString &text)
{
    calls << QStringLiteral("setSelectedText");
    FakeElement &e = fake(element);
    if (!e.editable || !e.selection)
        return Error::notSettable;
    QString current = e.value && e.value->typeId() == QMetaType::QString ? e.value->toString() : QString();
    current.replace(e.selection->location, e.selection->length, text);
    e.value = current;
    e.selection = TextRange{int(e.selection->location + text.size()), 0};
    return Error::success;
}

Accessibility::Error FakeAccessibility::setValue(const Element &element, const QString &text)
{
    calls << QStringLiteral("setValue");
    FakeElement &e = fake(element);
    if (!e.editable)
        return Error::notSettable;
    e.value = text;
    return Error::success;
}
