#include "FakePasteboard.h"

QString FakePasteboard::string() const
{
    for (const PasteboardItem &item : m_contents) {
        if (item.type == plainTextType())
            return QString::fromUtf8(item.data);
    }
    return {};
}

void FakePasteboard::setString(const QString &text)
{
    setContents({{plainTextType(), text.toUtf8()}});
}

void FakePasteboard::setContents(const PasteboardContents &contents)
{
    m_contents = contents;
    ++m_changeCount;
}
