#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The overlay's refinement stage cards, one row per stage shown, in stage
// order. A row changes in place, so a running card's timer tick redraws only
// that card.
class OverlayStageListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the overlay model")

public:
    enum class Stage { Apple, WhisperBase, WhisperLarge, Polish };
    Q_ENUM(Stage)
    // NoText: the stage ended without text; the card's text says why.
    enum class StageState { Running, Pending, Complete, NoText };
    Q_ENUM(StageState)

    struct StageCard {
        Stage stage = Stage::WhisperBase;
        StageState state = StageState::Pending;
        double elapsed = 0; // seconds, while running
        QString text;
        bool isFinal = false;
        friend bool operator==(const StageCard &, const StageCard &) = default;
    };

    enum Role {
        StageRole = Qt::UserRole + 1,
        TitleRole,
        SubtitleRole,
        StageStateRole,
        ElapsedTextRole,
        TextRole,
        IsFinalRole,
    };

    static QString stageTitle(Stage stage);
    static QString stageSubtitle(Stage stage, StageState state);
    static QString elapsedText(double seconds);

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<StageCard> &cards() const { return m_cards; }
    // Cards in stage order, each stage at most once.
    void setCards(const QList<StageCard> &cards);

private:
    QList<StageCard> m_cards;
};
