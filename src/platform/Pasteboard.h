#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// One format of the clipboard's contents: a MIME type and its bytes.
struct PasteboardItem {
    QString type;
    QByteArray data;

    friend bool operator==(const PasteboardItem &, const PasteboardItem &) = default;
};
using PasteboardContents = QList<PasteboardItem>;

// The desktop's clipboard. A QObject so that work scheduled against it ends
// with it.
class Pasteboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Grows by one with every write to the clipboard, ours or anyone's.
    virtual int changeCount() const = 0;
    // Every format it holds, in the order the owner offers them.
    virtual PasteboardContents contents() const = 0;
    // Its plain text, empty when it holds none.
    virtual QString string() const = 0;
    // Replaces the contents with a plain text (one write).
    virtual void setString(const QString &text) = 0;
    // Replaces the contents with these formats (one write); empty clears it.
    virtual void setContents(const PasteboardContents &contents) = 0;
};
