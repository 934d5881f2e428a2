#include "SnippetListModel.h"

SnippetListModel::SnippetListModel(VoiceProfileStore &store, QObject *parent)
    : SearchableListModel(parent)
    , m_store(store)
{
}

bool SnippetListModel::matches(const VoiceProfileStore::Snippet &entry, const QString &searchText)
{
    const QString query = searchText.toLower();
    return entry.shortcut.toLower().contains(query) || entry.expansion.toLower().contains(query)
        || entry.category.toLower().contains(query);
}

QStringList SnippetListModel::categories()
{
    return {QStringLiteral("General"), QStringLiteral("Email"), QStringLiteral("Code"), QStringLiteral("Address"),
            QStringLiteral("Medical"), QStringLiteral("Legal"), QStringLiteral("Custom")};
}

QHash<int, QByteArray> SnippetListModel::roleNames() const
{
    return {{ShortcutRole, "shortcut"}, {ExpansionRole, "expansion"}, {CategoryRole, "category"},
            {UsageCountRole, "usageCount"}};
}

void SnippetListModel::reload()
{
    beginReplacingSnapshot();
    m_snippets = m_store.snippets();
    endReplacingSnapshot();
}

bool SnippetListModel::saveSnippet(const QString &shortcut, const QString &expansion, const QString &category)
{
    if (shortcut.isEmpty() || expansion.isEmpty())
        return false;
    m_store.addSnippet(shortcut, expansion, category);
    reload();
    return true;
}

void SnippetListModel::deleteSnippet(const QString &shortcut)
{
    m_store.removeSnippet(shortcut);
    reload();
}

bool SnippetListModel::snapshotRowMatches(int row, const QString &searchText) const
{
    return matches(m_snippets.at(row), searchText);
}

QVariant SnippetListModel::snapshotData(int row, int role) const
{
    const VoiceProfileStore::Snippet &entry = m_snippets.at(row);
    switch (role) {
    case ShortcutRole:
        return entry.shortcut;
    case ExpansionRole:
        return entry.expansion;
    case CategoryRole:
        return entry.category;
    case UsageCountRole:
        return entry.usageCount;
    }
    return {};
}
