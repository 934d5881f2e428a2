#include "app/IconTable.h"

const QHash<QString, QString> &IconTable::entries()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("mic"), QStringLiteral("audio-input-microphone-symbolic")},
        {QStringLiteral("mic.fill"), QStringLiteral("audio-input-microphone-symbolic")},
        {QStringLiteral("mic.circle.fill"), QStringLiteral("audio-input-microphone-symbolic")},
        {QStringLiteral("stop.circle.fill"), QStringLiteral("media-playback-stop-symbolic")},
        {QStringLiteral("house.fill"), QStringLiteral("go-home-symbolic")},
        {QStringLiteral("character.book.closed.fill"), QStringLiteral("accessories-dictionary-symbolic")},
        {QStringLiteral("text.badge.plus"), QStringLiteral("insert-text-symbolic")},
        {QStringLiteral("gearshape.fill"), QStringLiteral("preferences-system-symbolic")},
        {QStringLiteral("power"), QStringLiteral("system-shutdown-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear-symbolic")},
        {QStringLiteral("waveform.slash"), QStringLiteral("microphone-sensitivity-muted-symbolic")},
        {QStringLiteral("textformat.size"), QStringLiteral("font-x-generic-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("preferences-system-time-symbolic")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy-symbolic")},
        {QStringLiteral("checkmark"), QStringLiteral("object-select-symbolic")},
        {QStringLiteral("checkmark.seal.fill"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("waveform.circle"), QStringLiteral("microphone-sensitivity-high-symbolic")},
        {QStringLiteral("sparkles"), QStringLiteral("starred-symbolic")},
        {QStringLiteral("wand.and.stars"), QStringLiteral("tools-check-spelling-symbolic")},
        {QStringLiteral("textformat.abc.dottedunderline"), QStringLiteral("format-text-underline-symbolic")},
        {QStringLiteral("globe"), QStringLiteral("preferences-desktop-locale-symbolic")},
        {QStringLiteral("textformat"), QStringLiteral("format-text-rich-symbolic")},
        {QStringLiteral("person.wave.2"), QStringLiteral("avatar-default-symbolic")},
        {QStringLiteral("cpu"), QStringLiteral("computer-symbolic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("waveform.badge.plus"), QStringLiteral("folder-download-symbolic")},
        {QStringLiteral("hand.tap"), QStringLiteral("input-touchpad-symbolic")},
        {QStringLiteral("mic.circle"), QStringLiteral("audio-input-microphone-symbolic")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-paste-symbolic")},
        {QStringLiteral("speaker.wave.2"), QStringLiteral("audio-volume-high-symbolic")},
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("object-rotate-left-symbolic")},
        {QStringLiteral("lock.shield"), QStringLiteral("security-high-symbolic")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("plus.circle.fill"), QStringLiteral("list-add-symbolic")},
        {QStringLiteral("trash"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("chevron.down"), QStringLiteral("pan-down-symbolic")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning-symbolic")},
    };
    return table;
}

QString IconTable::freedesktopName(const QString &symbol)
{
    return entries().value(symbol);
}

QIcon IconTable::icon(const QString &symbol)
{
    const QString name = freedesktopName(symbol);
    if (name.isEmpty())
        return {};
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/qt/qml/Tavrune/Ui/icons/%1.svg").arg(name)));
}
