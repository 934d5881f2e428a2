#include "app/SessionListModel.h"

int SessionListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SessionListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const SessionEntry &entry = m_entries.at(index.row());
    switch (role) {
    case EntryIdRole:
        return entry.id.toString(QUuid::WithoutBraces);
    case DateTextRole:
        return SessionEntry::dateText(entry.timestamp);
    case WordCountRole:
        return entry.wordCount;
    case DurationTextRole:
        return SessionEntry::durationText(entry.duration);
    case Qt::DisplayRole:
    case DisplayTextRole:
        return entry.displayText();
    case IsLongRole:
        return entry.isLong();
    }
    return {};
}

QHash<int, QByteArray> SessionListModel::roleNames() const
{
    return {
        {EntryIdRole, "entryId"},         {DateTextRole, "dateText"},       {WordCountRole, "wordCount"},
        {DurationTextRole, "durationText"}, {DisplayTextRole, "displayText"}, {IsLongRole, "isLong"},
    };
}

void SessionListModel::setEntries(QList<SessionEntry> entries)
{
    const int before = count();
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
    if (count() != before)
        emit countChanged();
}
