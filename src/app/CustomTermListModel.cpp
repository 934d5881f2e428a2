#include "CustomTermListModel.h"

CustomTermListModel::CustomTermListModel(VoiceProfileStore &store, QObject *parent)
    : SearchableListModel(parent)
    , m_store(store)
{
}

bool CustomTermListModel::matches(const VoiceProfileStore::CustomTerm &entry, const QString &searchText)
{
    const QString query = searchText.toLower();
    return entry.term.toLower().contains(query) || (entry.replacement && entry.replacement->toLower().contains(query));
}

QHash<int, QByteArray> CustomTermListModel::roleNames() const
{
    return {{TermRole, "term"}, {ReplacementRole, "replacement"}, {SourceRole, "source"}};
}

void CustomTermListModel::reload()
{
    beginReplacingSnapshot();
    m_terms = m_store.customTerms();
    endReplacingSnapshot();
}

bool CustomTermListModel::addTerm(const QString &term, const QString &replacement)
{
    if (term.isEmpty())
        return false;
    // added by hand: always English
    m_store.addCustomTerm(term, replacement.isEmpty() ? std::nullopt : std::optional<QString>(replacement),
                          QStringLiteral("en"));
    reload();
    return true;
}

void CustomTermListModel::removeTerm(const QString &term)
{
    m_store.removeCustomTerm(term);
    reload();
}

bool CustomTermListModel::snapshotRowMatches(int row, const QString &searchText) const
{
    return matches(m_terms.at(row), searchText);
}

QVariant CustomTermListModel::snapshotData(int row, int role) const
{
    const VoiceProfileStore::CustomTerm &entry = m_terms.at(row);
    switch (role) {
    case TermRole:
        return entry.term;
    case ReplacementRole:
        return entry.replacement.value_or(QString());
    case SourceRole:
        return entry.source;
    }
    return {};
}
