#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>

// A list view's snapshot of stored rows, narrowed by a search text. The
// snapshot changes only when it is reloaded; searching never queries the store.
class SearchableListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    using QAbstractListModel::QAbstractListModel;

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    int count() const { return int(m_visible.size()); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Reads the rows from the store again.
    Q_INVOKABLE virtual void reload() = 0;

signals:
    void searchTextChanged();
    void countChanged();

protected:
    // The rows of the snapshot, matched against the search text as typed.
    virtual int snapshotSize() const = 0;
    virtual bool snapshotRowMatches(int row, const QString &searchText) const = 0;
    virtual QVariant snapshotData(int row, int role) const = 0;
    // Call around replacing the snapshot.
    void beginReplacingSnapshot();
    void endReplacingSnapshot();

private:
    void refilter();

    QString m_searchText;
    QList<int> m_visible;
};
