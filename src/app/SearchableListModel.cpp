#include "SearchableListModel.h"

void SearchableListModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    beginResetModel();
    refilter();
    endResetModel();
    emit searchTextChanged();
    emit countChanged();
}

int SearchableListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant SearchableListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    return snapshotData(m_visible.at(index.row()), role);
}

void SearchableListModel::beginReplacingSnapshot()
{
    beginResetModel();
}

void SearchableListModel::endReplacingSnapshot()
{
    refilter();
    endResetModel();
    emit countChanged();
}

void SearchableListModel::refilter()
{
    m_visible.clear();
    for (int row = 0, size = snapshotSize(); row < size; ++row) {
        if (m_searchText.isEmpty() || snapshotRowMatches(row, m_searchText))
            m_visible.append(row);
    }
}
