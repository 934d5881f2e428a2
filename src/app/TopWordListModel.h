#pragma once

#include "app/SearchableListModel.h"
#include "profile/VoiceProfileStore.h"

#include <QtQml/qqmlregistration.h>

// The most frequent words of every language, most frequent first.
class TopWordListModel : public SearchableListModel {
    Q_OBJECT
    QML_ANONYMOUS
public:
    static constexpr int limit = 30;
    enum Role { WordRole = Qt::UserRole + 1, FrequencyRole };

    explicit TopWordListModel(VoiceProfileStore &store, QObject *parent = nullptr);

    // The word contains the search text, ignoring case.
    static bool matches(const VoiceProfileStore::TopWord &entry, const QString &searchText);

    QHash<int, QByteArray> roleNames() const override;
    void reload() override;

protected:
    int snapshotSize() const override { return int(m_words.size()); }
    bool snapshotRowMatches(int row, const QString &searchText) const override;
    QVariant snapshotData(int row, int role) const override;

private:
    VoiceProfileStore &m_store;
    QList<VoiceProfileStore::TopWord> m_words;
};
