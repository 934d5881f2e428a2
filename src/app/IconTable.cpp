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
    };
    return table;
}

QString IconTable::freedesktopName(const QString &symbol)
{
    return entries().value(symbol);
}
