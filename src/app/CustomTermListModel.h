#pragma once

#include "app/SearchableListModel.h"
#include "profile/VoiceProfileStore.h"

#include <QtQml/qqmlregistration.h>

// The custom dictionary, newest first, with adding and removing terms.
class CustomTermListModel : public SearchableListModel {
    Q_OBJECT
    QML_ANONYMOUS
public:
    enum Role { TermRole = Qt::UserRole + 1, ReplacementRole, SourceRole };

    explicit CustomTermListModel(VoiceProfileStore &store, QObject *parent = nullptr);

    // The term or its replacement contains the search text, ignoring case.
    static bool matches(const VoiceProfileStore::CustomTerm &entry, const QString &searchText);

    QHash<int, QByteArray> roleNames() const override;
    void reload() override;
    // Stores the term as typed (the store lowercases it) with the replacement,
    // none when empty; false and nothing stored for an empty term.
    Q_INVOKABLE bool addTerm(const QString &term, const QString &replacement);
    Q_INVOKABLE void removeTerm(const QString &term);

protected:
    int snapshotSize() const override { return int(m_terms.size()); }
    bool snapshotRowMatches(int row, const QString &searchText) const override;
    QVariant snapshotData(int row, int role) const override;

private:
    VoiceProfileStore &m_store;
    QList<VoiceProfileStore::CustomTerm> m_terms;
};
