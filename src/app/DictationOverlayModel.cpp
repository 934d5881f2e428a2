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
    if (in.isDictating)
        return MascotState::listening;
    return isProcessing(in) ? MascotState::processing : MascotState::done;
}

QString DictationOverlayModel::statusTitle(const Input &in)
{
    if (in.isDictating)
        return QStringLiteral("Listening");
    return isProcessing(in) ? QStringLiteral("Refining") : QStringLiteral("Done");
}

QString DictationOverlayModel::statusColor(const Input &in)
{
    if (in.isDictating)
        return QStringLiteral("red");
    return isProcessing(in) ? QStringLiteral("blue") : QStringLiteral("green");
}

QString DictationOverlayModel::hintLine(const Input &in)
{
    if (!in.isDictating)
        return in.statusText;
    return in.mode == DictationMode::hold ? QStringLiteral("Release Alt Space to stop")
                                          : QStringLiteral("Super Space to stop");
}

QList<DictationOverlayModel::StageCard> DictationOverlayModel::stageCards(const Input &in)
{
    QList<StageCard> cards;
    if (in.isDictating)
        return cards;
    const auto refinement = [](Stage stage, bool running, double elapsed, const QString &text) {
        const StageState state = running ? StageState::running
                                 : text.isEmpty() ? StageState::pending
                                                  : StageState::complete;
        return StageCard{stage, state, running ? elapsed : 0, text, false};
    };
    if (!in.liveTranscript.isEmpty())
        cards.append({Stage::apple, StageState::complete, 0, in.liveTranscript, false});
    cards.append(refinement(Stage::whisperBase, in.isRefining, in.refiningElapsedSeconds, in.refinedTranscript));
    if (in.largeModelEnabled) {
        cards.append(refinement(Stage::whisperLarge, in.isLargeModelProcessing, in.largeModelElapsedSeconds,
                                in.largeModelTranscript));
    }
    if (!in.finalText.isEmpty() || in.isPolishing) {
        cards.append({Stage::polish, in.isPolishing ? StageState::running : StageState::complete,
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

QString DictationOverlayModel::stageTitle(Stage stage)
{
    switch (stage) {
    case Stage::apple:
        return QStringLiteral("Live Speech");
    case Stage::whisperBase:
        return QStringLiteral("Whisper Base");
    case Stage::whisperLarge:
        return QStringLiteral("Whisper Large v3");
    case Stage::polish:
        return QStringLiteral("AI Polish");
    }
    return {};
}

QString DictationOverlayModel::stageSubtitle(Stage stage, StageState state)
{
    if (state == StageState::running)
        return QStringLiteral("Processing...");
    switch (stage) {
    case Stage::apple:
        return QStringLiteral("Live (on-device)");
    case Stage::whisperBase:
        return QStringLiteral("Offline refinement");
    case Stage::whisperLarge:
        return QStringLiteral("Highest accuracy");
    case Stage::polish:
        return QStringLiteral("Grammar & polish");
    }
    return {};
}

QString DictationOverlayModel::stageColor(Stage stage)
{
    switch (stage) {
    case Stage::apple:
        return QStringLiteral("blue");
    case Stage::whisperBase:
        return QStringLiteral("orange");
    case Stage::whisperLarge:
        return QStringLiteral("purple");
    case Stage::polish:
        return QStringLiteral("green");
    }
    return {};
}

QString DictationOverlayModel::elapsedText(double seconds)
{
    return QString::asprintf("%.1fs", seconds);
}

DictationOverlayModel::DictationOverlayModel(QObject *parent)
    : QObject(parent)
{
}

void DictationOverlayModel::follow(DictationSessionCoordinator &coordinator)
{
    m_coordinator = &coordinator;
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
    Input in;
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
    in.largeModelEnabled = c.largeModelEnabled;
    in.refiningElapsedSeconds = c.refiningElapsedSeconds();
    in.largeModelElapsedSeconds = c.largeModelElapsedSeconds();
    in.polishingElapsedSeconds = c.polishingElapsedSeconds();
    in.audioLevel = c.audioLevel();
    setInput(in);
}

void DictationOverlayModel::setInput(const Input &input)
{
    m_input = input;
    emit changed();
}

QString DictationOverlayModel::mascotStateName() const
{
    switch (mascotState(m_input)) {
    case MascotState::listening:
        return QStringLiteral("listening");
    case MascotState::processing:
        return QStringLiteral("processing");
    case MascotState::done:
        return QStringLiteral("done");
    }
    return {};
}

QVariantList DictationOverlayModel::barHeightList() const
{
    QVariantList list;
    for (double height : barHeights(m_input.audioLevel))
        list.append(height);
    return list;
}

QVariantList DictationOverlayModel::stageList() const
{
    static const char *const stateNames[] = {"running", "pending", "complete"};
    static const char *const stageNames[] = {"apple", "whisperBase", "whisperLarge", "polish"};
    QVariantList list;
    for (const StageCard &card : stageCards(m_input)) {
        list.append(QVariantMap{
            {QStringLiteral("stage"), QString::fromLatin1(stageNames[int(card.stage)])},
            {QStringLiteral("title"), stageTitle(card.stage)},
            {QStringLiteral("subtitle"), stageSubtitle(card.stage, card.state)},
            {QStringLiteral("color"), stageColor(card.stage)},
            {QStringLiteral("state"), QString::fromLatin1(stateNames[int(card.state)])},
            {QStringLiteral("elapsedText"), elapsedText(card.elapsed)},
            {QStringLiteral("text"), card.text},
            {QStringLiteral("isFinal"), card.isFinal},
        });
    }
    return list;
}
