#include "app/OverlayStageListModel.h"

#include <algorithm>

QString OverlayStageListModel::stageTitle(Stage stage)
{
    switch (stage) {
    case Stage::Apple:
        return QStringLiteral("Live Speech");
    case Stage::WhisperBase:
        return QStringLiteral("Whisper Base");
    case Stage::WhisperLarge:
        return QStringLiteral("Whisper Large v3");
    case Stage::Polish:
        return QStringLiteral("AI Polish");
    }
    return {};
}

QString OverlayStageListModel::stageSubtitle(Stage stage, StageState state)
{
    if (state == StageState::Running)
        return QStringLiteral("Processing...");
    switch (stage) {
    case Stage::Apple:
        return QStringLiteral("Live (on-device)");
    case Stage::WhisperBase:
        return QStringLiteral("Offline refinement");
    case Stage::WhisperLarge:
        return QStringLiteral("Highest accuracy");
    case Stage::Polish:
        return QStringLiteral("Grammar & polish");
    }
    return {};
}

QString OverlayStageListModel::elapsedText(double seconds)
{
    return QString::asprintf("%.1fs", seconds);
}

int OverlayStageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_cards.size());
}

QVariant OverlayStageListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_cards.size())
        return {};
    const StageCard &card = m_cards.at(index.row());
    switch (role) {
    case StageRole:
        return QVariant::fromValue(card.stage);
    case TitleRole:
        return stageTitle(card.stage);
    case SubtitleRole:
        return stageSubtitle(card.stage, card.state);
    case StageStateRole:
        return QVariant::fromValue(card.state);
    case ElapsedTextRole:
        return elapsedText(card.elapsed);
    case TextRole:
        return card.text;
    case IsFinalRole:
        return card.isFinal;
    }
    return {};
}

QHash<int, QByteArray> OverlayStageListModel::roleNames() const
{
    return {{StageRole, "stage"},     {TitleRole, "title"}, {SubtitleRole, "subtitle"}, {StageStateRole, "stageState"},
            {ElapsedTextRole, "elapsedText"}, {TextRole, "text"},   {IsFinalRole, "isFinal"}};
}

void OverlayStageListModel::setCards(const QList<StageCard> &cards)
{
    const auto shown = [&cards](Stage stage) {
        return std::any_of(cards.cbegin(), cards.cend(), [stage](const StageCard &card) { return card.stage == stage; });
    };
    for (int row = int(m_cards.size()) - 1; row >= 0; --row) {
        if (!shown(m_cards.at(row).stage)) {
            beginRemoveRows({}, row, row);
            m_cards.removeAt(row);
            endRemoveRows();
        }
    }
    // Both lists are in stage order: each card is either in place or new.
    for (int row = 0; row < cards.size(); ++row) {
        if (row < m_cards.size() && m_cards.at(row).stage == cards.at(row).stage) {
            if (!(m_cards.at(row) == cards.at(row))) {
                m_cards[row] = cards.at(row);
                emit dataChanged(index(row), index(row));
            }
        } else {
            beginInsertRows({}, row, row);
            m_cards.insert(row, cards.at(row));
            endInsertRows();
        }
    }
}
