#include "QtClipboardPasteboard.h"

#include "support/Log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

QtClipboardPasteboard::QtClipboardPasteboard(QObject *parent)
    : Pasteboard(parent)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        logLine("Pasteboard", "No graphical application; the clipboard is unavailable");
        return;
    }
    m_clipboard = QGuiApplication::clipboard();
    connect(m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard)
            ++m_changeCount;
    });
}

PasteboardContents QtClipboardPasteboard::contents() const
{
    PasteboardContents contents;
    const QMimeData *data = m_clipboard ? m_clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data)
        return contents;
    for (const QString &format : data->formats())
        contents << PasteboardItem{format, data->data(format)};
    return contents;
}

QString QtClipboardPasteboard::string() const
{
    return m_clipboard ? m_clipboard->text(QClipboard::Clipboard) : QString();
}

void QtClipboardPasteboard::setString(const QString &text)
{
    if (m_clipboard)
        m_clipboard->setText(text, QClipboard::Clipboard);
}

void QtClipboardPasteboard::setContents(const PasteboardContents &contents)
{
    if (!m_clipboard)
        return;
    if (contents.isEmpty()) {
        m_clipboard->clear(QClipboard::Clipboard);
        return;
    }
    auto *data = new QMimeData;
    for (const PasteboardItem &item : contents)
        data->setData(item.type, item.data);
    m_clipboard->setMimeData(data, QClipboard::Clipboard);
}
