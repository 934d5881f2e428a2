#include "app/SessionListModel.h"

#include <QSet>

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
    QSet<QUuid> incoming;
    for (const SessionEntry &entry : std::as_const(entries))
        incoming.insert(entry.id);
    QSet<QUuid> present;
    for (const SessionEntry &entry : std::as_const(m_entries))
        present.insert(entry.id);
    QList<QUuid> staying, stayingIncoming;
    for (const SessionEntry &entry : std::as_const(m_entries)) {
        if (incoming.contains(entry.id))
            staying.append(entry.id);
    }
    for (const SessionEntry &entry : std::as_const(entries)) {
        if (present.contains(entry.id))
            stayingIncoming.append(entry.id);
    }
    // Only a new order (or a repeated id) needs the whole list redrawn.
    if (incoming.size() != entries.size() || staying != stayingIncoming) {
        beginResetModel();
        m_entries = std::move(entries);
        endResetModel();
    } else {
        // rows that go, each run at once, from the end
        for (int last = count() - 1; last >= 0;) {
            int first = last;
            while (first >= 0 && !incoming.contains(m_entries.at(first).id))
                --first;
            if (first < last) {
                beginRemoveRows({}, first + 1, last);
                m_entries.remove(first + 1, last - first);
                endRemoveRows();
            }
            last = first - 1;
        }
        // rows that come, each run at once, where they belong
        for (int row = 0; row < entries.size();) {
            int end = row;
            while (end < entries.size() && !present.contains(entries.at(end).id))
                ++end;
            if (end > row) {
                beginInsertRows({}, row, end - 1);
                for (int i = row; i < end; ++i)
                    m_entries.insert(i, entries.at(i));
                endInsertRows();
            }
            row = end + 1;
        }
    }
    if (count() != before)
        emit countChanged();
}
