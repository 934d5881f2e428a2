#pragma once

#include "app/SessionEntry.h"

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>

// The history rows as QML shows them, in the given order. Rows are known by
// their entry's id: one that stays keeps its place in the view (and the
// view's state for it) when new entries come or others go.
class SessionListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        EntryIdRole = Qt::UserRole + 1,
        DateTextRole,
        WordCountRole,
        DurationTextRole,
        DisplayTextRole,
        IsLongRole,
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_entries.size()); }
    const QList<SessionEntry> &entries() const { return m_entries; }
    void setEntries(QList<SessionEntry> entries);

signals:
    void countChanged();

private:
    QList<SessionEntry> m_entries;
};
