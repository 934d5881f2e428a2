#include "TopWordListModel.h"

TopWordListModel::TopWordListModel(VoiceProfileStore &store, QObject *parent)
    : SearchableListModel(parent)
    , m_store(store)
{
}

bool TopWordListModel::matches(const VoiceProfileStore::TopWord &entry, const QString &searchText)
{
    return entry.word.toLower().contains(searchText.toLower());
}

QHash<int, QByteArray> TopWordListModel::roleNames() const
{
    return {{WordRole, "word"}, {FrequencyRole, "frequency"}};
}

void TopWordListModel::reload()
{
    beginReplacingSnapshot();
    m_words = m_store.topWords(limit);
    endReplacingSnapshot();
}

bool TopWordListModel::snapshotRowMatches(int row, const QString &searchText) const
{
    return matches(m_words.at(row), searchText);
}

QVariant TopWordListModel::snapshotData(int row, int role) const
{
    const VoiceProfileStore::TopWord &entry = m_words.at(row);
    switch (role) {
    case WordRole:
        return entry.word;
    case FrequencyRole:
        return entry.frequency;
    }
    return {};
}
