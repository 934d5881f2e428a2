#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

// The interface names its icons by their SF Symbol names; this table gives
// the freedesktop icon each one is drawn with (from the Adwaita theme).
namespace IconTable {

const QHash<QString, QString> &entries();
// Empty for a name that is not in the table.
QString freedesktopName(const QString &symbol);
// The symbol's icon from the desktop's theme, else its fallback theme, else
// the copy of Adwaita's that the module carries; null only for a name that
// is not in the table.
QIcon icon(const QString &symbol);

} // namespace IconTable
