#pragma once

#include "app/OverlayStageListModel.h"
#include "pipeline/DictationMode.h"
#include "pipeline/DictationSessionCoordinator.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>


// What the dictation overlay shows, derived from the coordinator's published
// state in one place so that the views only draw it. The level, which moves
// with every captured buffer, and each stage card notify on their own, so a
// tick redraws only what it moves.
class DictationOverlayModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the overlay panel")

    Q_PROPERTY(bool isDictating READ isDictating NOTIFY changed)
    // The last start ended without a dictation; the hint line says why.
    Q_PROPERTY(bool startFailed READ startFailed NOTIFY changed)
    // Also picks the header's colour.
    Q_PROPERTY(MascotState mascotState READ mascotState NOTIFY changed)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY changed)
    Q_PROPERTY(QString hintLine READ hintLine NOTIFY changed)
    Q_PROPERTY(QString liveTranscript READ liveTranscript NOTIFY changed)
    // What a screen reader says unasked: why a start failed, or that the
    // dictation is done. Empty otherwise.
    Q_PROPERTY(QString announcement READ announcement NOTIFY changed)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(QVariantList barHeights READ barHeightList NOTIFY audioLevelChanged)
    Q_PROPERTY(OverlayStageListModel *stages READ stages CONSTANT)

public:
    // The coordinator's state that the overlay reads.
    struct Input {
        bool isDictating = false;
        bool isRefining = false;
        bool isLargeModelProcessing = false;
        bool isPolishing = false;
        DictationMode mode = DictationMode::toggle;
        QString statusText = QStringLiteral("Ready");
        QString liveTranscript;
        QString refinedTranscript;
        QString largeModelTranscript;
        QString finalText;
        // why a refinement stage gave no text
        QString refiningFailure;
        QString largeModelFailure;
        bool startFailed = false;
        bool largeModelEnabled = false;
        double refiningElapsedSeconds = 0;
        double largeModelElapsedSeconds = 0;
        double polishingElapsedSeconds = 0;
        float audioLevel = 0;
        friend bool operator==(const Input &, const Input &) = default;
    };

    // Failed: the last start ended without a dictation.
    enum class MascotState { Listening, Processing, Done, Failed };
    Q_ENUM(MascotState)
    using Stage = OverlayStageListModel::Stage;
    using StageState = OverlayStageListModel::StageState;
    using StageCard = OverlayStageListModel::StageCard;

    static constexpr int barCount = 5;

    static MascotState mascotState(const Input &input);
    static QString statusTitle(const Input &input);
    static QString hintLine(const Input &input);
    static QString announcement(const Input &input);
    // Empty while dictating.
    static QList<StageCard> stageCards(const Input &input);
    static QList<double> barHeights(float audioLevel);

    explicit DictationOverlayModel(QObject *parent = nullptr);

    // Follows the coordinator from now on (its settings fields are read
    // whenever any of its published values changes).
    void follow(DictationSessionCoordinator &coordinator);
    const Input &input() const { return m_input; }
    void setInput(const Input &input);

    bool isDictating() const { return m_input.isDictating; }
    bool startFailed() const { return m_input.startFailed; }
    MascotState mascotState() const { return mascotState(m_input); }
    QString statusTitle() const { return statusTitle(m_input); }
    QString hintLine() const { return hintLine(m_input); }
    QString announcement() const { return announcement(m_input); }
    QString liveTranscript() const { return m_input.liveTranscript; }
    float audioLevel() const { return m_input.audioLevel; }
    QVariantList barHeightList() const;
    OverlayStageListModel *stages() { return &m_stages; }

signals:
    // Everything but the level and the cards.
    void changed();
    void audioLevelChanged();

private slots:
    void readCoordinator();

private:
    QPointer<DictationSessionCoordinator> m_coordinator;
    Input m_input;
    // Set when a start fails, until the next one begins.
    bool m_startFailed = false;
    OverlayStageListModel m_stages;
};
