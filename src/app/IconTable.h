#pragma once

#include <QHash>
#include <QString>

// The interface names its icons by their SF Symbol names; this table gives
// the freedesktop icon each one is drawn with (from the Adwaita theme).
namespace IconTable {

const QHash<QString, QString> &entries();
// Empty for a name that is not in the table.
QString freedesktopName(const QString &symbol);

} // namespace IconTable
