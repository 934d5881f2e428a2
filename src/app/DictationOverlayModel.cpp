#include "app/DictationOverlayModel.h"

#include "pipeline/DictationSessionCoordinator.h"

#include <QMetaMethod>
#include <QMetaProperty>

#include <algorithm>

namespace {

bool isProcessing(const DictationOverlayModel::Input &in)
{
    return in.isRefining || in.isLargeModelProcessing || in.isPolishing;
}

} // namespace

DictationOverlayModel::MascotState DictationOverlayModel::mascotState(const Input &in)
{
    if (in.startFailed)
        return MascotState::Failed;
    if (in.isDictating)
        return MascotState::Listening;
    return isProcessing(in) ? MascotState::Processing : MascotState::Done;
}

QString DictationOverlayModel::statusTitle(const Input &in)
{
    if (in.startFailed)
        return QStringLiteral("Not started");
    if (in.isDictating)
        return QStringLiteral("Listening");
    return isProcessing(in) ? QStringLiteral("Refining") : QStringLiteral("Done");
}

QString DictationOverlayModel::hintLine(const Input &in)
{
    if (!in.isDictating)
        return in.statusText;
    return in.mode == DictationMode::hold ? QStringLiteral("Release Alt Space to stop")
                                          : QStringLiteral("Super Space to stop");
}

QString DictationOverlayModel::announcement(const Input &in)
{
    if (in.startFailed)
        return statusTitle(in) + QStringLiteral(". ") + in.statusText;
    if (mascotState(in) != MascotState::Done)
        return {};
    // nothing dictated yet: the launch's "Done" is no news
    const bool dictated = !in.liveTranscript.isEmpty() || !in.refinedTranscript.isEmpty()
                          || !in.largeModelTranscript.isEmpty() || !in.finalText.isEmpty()
                          || !in.refiningFailure.isEmpty() || !in.largeModelFailure.isEmpty();
    if (!dictated)
        return {};
    const QString title = statusTitle(in);
    return in.statusText.isEmpty() || in.statusText == title ? title : title + QStringLiteral(". ") + in.statusText;
}

QList<DictationOverlayModel::StageCard> DictationOverlayModel::stageCards(const Input &in)
{
    QList<StageCard> cards;
    // nothing ran after a failed start
    if (in.isDictating || in.startFailed)
        return cards;
    const auto refinement = [](Stage stage, bool running, double elapsed, const QString &text, const QString &failure) {
        if (running)
            return StageCard{stage, StageState::Running, elapsed, text, false};
        if (text.isEmpty() && !failure.isEmpty())
            return StageCard{stage, StageState::NoText, 0, failure, false};
        return StageCard{stage, text.isEmpty() ? StageState::Pending : StageState::Complete, 0, text, false};
    };
    if (!in.liveTranscript.isEmpty())
        cards.append({Stage::Apple, StageState::Complete, 0, in.liveTranscript, false});
    cards.append(refinement(Stage::WhisperBase, in.isRefining, in.refiningElapsedSeconds, in.refinedTranscript,
                            in.refiningFailure));
    if (in.largeModelEnabled) {
        cards.append(refinement(Stage::WhisperLarge, in.isLargeModelProcessing, in.largeModelElapsedSeconds,
                                in.largeModelTranscript, in.largeModelFailure));
    }
    if (!in.finalText.isEmpty() || in.isPolishing) {
        cards.append({Stage::Polish, in.isPolishing ? StageState::Running : StageState::Complete,
                      in.isPolishing ? in.polishingElapsedSeconds : 0, in.finalText, true});
    }
    return cards;
}

QList<double> DictationOverlayModel::barHeights(float audioLevel)
{
    QList<double> heights;
    for (int i = 0; i < barCount; ++i)
        heights.append(std::clamp(3.0 + double(audioLevel) * 17.0 * (1.0 + 0.2 * i), 3.0, 20.0));
    return heights;
}

DictationOverlayModel::DictationOverlayModel(QObject *parent)
    : QObject(parent)
{
    m_stages.setCards(stageCards(m_input));
}

void DictationOverlayModel::follow(DictationSessionCoordinator &coordinator)
{
    m_coordinator = &coordinator;
    connect(&coordinator, &DictationSessionCoordinator::startFailed, this, [this] {
        m_startFailed = true;
        readCoordinator();
    });
    // Any published change of the coordinator is read again in full.
    const QMetaObject *meta = coordinator.metaObject();
    const QMetaMethod reread = metaObject()->method(metaObject()->indexOfSlot("readCoordinator()"));
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal())
            connect(&coordinator, property.notifySignal(), this, reread, Qt::UniqueConnection);
    }
    readCoordinator();
}

void DictationOverlayModel::readCoordinator()
{
    if (!m_coordinator)
        return;
    const DictationSessionCoordinator &c = *m_coordinator;
    if (c.isStarting() || c.isDictating())
        m_startFailed = false;
    Input in;
    in.startFailed = m_startFailed;
    in.isDictating = c.isDictating();
    in.isRefining = c.isRefining();
    in.isLargeModelProcessing = c.isLargeModelProcessing();
    in.isPolishing = c.isPolishing();
    in.mode = c.activeDictationMode();
    in.statusText = c.statusText();
    in.liveTranscript = c.liveTranscript();
    in.refinedTranscript = c.refinedTranscript();
    in.largeModelTranscript = c.largeModelTranscript();
    in.finalText = c.finalText();
    in.refiningFailure = c.refiningFailure();
    in.largeModelFailure = c.largeModelFailure();
    in.largeModelEnabled = c.largeModelEnabled;
    in.refiningElapsedSeconds = c.refiningElapsedSeconds();
    in.largeModelElapsedSeconds = c.largeModelElapsedSeconds();
    in.polishingElapsedSeconds = c.polishingElapsedSeconds();
    in.audioLevel = c.audioLevel();
    setInput(in);
}

void DictationOverlayModel::setInput(const Input &input)
{
    Input levelled = m_input;
    levelled.audioLevel = input.audioLevel;
    const bool levelMoved = levelled.audioLevel != m_input.audioLevel;
    // the elapsed times show only on the cards
    levelled.refiningElapsedSeconds = input.refiningElapsedSeconds;
    levelled.largeModelElapsedSeconds = input.largeModelElapsedSeconds;
    levelled.polishingElapsedSeconds = input.polishingElapsedSeconds;
    const bool rest = !(levelled == input);
    m_input = input;
    m_stages.setCards(stageCards(m_input));
    if (levelMoved)
        emit audioLevelChanged();
    if (rest)
        emit changed();
}

QVariantList DictationOverlayModel::barHeightList() const
{
    QVariantList list;
    for (double height : barHeights(m_input.audioLevel))
        list.append(height);
    return list;
}
