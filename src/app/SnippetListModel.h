#pragma once

#include "app/SearchableListModel.h"
#include "profile/VoiceProfileStore.h"

#include <QtQml/qqmlregistration.h>

#include <QStringList>

// The user's snippets in store order, with saving and deleting.
class SnippetListModel : public SearchableListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(QStringList categories READ categories CONSTANT)
public:
    enum Role { ShortcutRole = Qt::UserRole + 1, ExpansionRole, CategoryRole, UsageCountRole };

    explicit SnippetListModel(VoiceProfileStore &store, QObject *parent = nullptr);

    // The shortcut, expansion or category contains the search text, ignoring case.
    static bool matches(const VoiceProfileStore::Snippet &entry, const QString &searchText);
    static QStringList categories();

    QHash<int, QByteArray> roleNames() const override;
    void reload() override;
    // Stores the snippet exactly as typed, replacing one with the same
    // shortcut; false and nothing stored while either text is empty.
    Q_INVOKABLE bool saveSnippet(const QString &shortcut, const QString &expansion, const QString &category);
    Q_INVOKABLE void deleteSnippet(const QString &shortcut);

protected:
    int snapshotSize() const override { return int(m_snippets.size()); }
    bool snapshotRowMatches(int row, const QString &searchText) const override;
    QVariant snapshotData(int row, int role) const override;

private:
    VoiceProfileStore &m_store;
    QList<VoiceProfileStore::Snippet> m_snippets;
};
