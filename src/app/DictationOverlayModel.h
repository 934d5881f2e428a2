#pragma once

#include "pipeline/DictationMode.h"
#include "pipeline/DictationSessionCoordinator.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>


// What the dictation overlay shows, derived from the coordinator's published
// state in one place so that the views only draw it.
class DictationOverlayModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the overlay panel")

    Q_PROPERTY(bool isDictating READ isDictating NOTIFY changed)
    Q_PROPERTY(QString mascotState READ mascotStateName NOTIFY changed)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY changed)
    // A palette colour name: "red", "blue" or "green".
    Q_PROPERTY(QString statusColor READ statusColor NOTIFY changed)
    Q_PROPERTY(QString hintLine READ hintLine NOTIFY changed)
    Q_PROPERTY(QString liveTranscript READ liveTranscript NOTIFY changed)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY changed)
    Q_PROPERTY(QVariantList barHeights READ barHeightList NOTIFY changed)
    // One map per card: stage, title, subtitle, color, state ("running",
    // "pending", "complete"), elapsedText, text, isFinal.
    Q_PROPERTY(QVariantList stages READ stageList NOTIFY changed)

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
        bool largeModelEnabled = false;
        double refiningElapsedSeconds = 0;
        double largeModelElapsedSeconds = 0;
        double polishingElapsedSeconds = 0;
        float audioLevel = 0;
    };

    enum class MascotState { listening, processing, done };
    enum class Stage { apple, whisperBase, whisperLarge, polish };
    enum class StageState { running, pending, complete };

    struct StageCard {
        Stage stage = Stage::whisperBase;
        StageState state = StageState::pending;
        double elapsed = 0; // seconds, while running
        QString text;
        bool isFinal = false;
        friend bool operator==(const StageCard &, const StageCard &) = default;
    };

    static constexpr int barCount = 5;

    static MascotState mascotState(const Input &input);
    static QString statusTitle(const Input &input);
    static QString statusColor(const Input &input);
    static QString hintLine(const Input &input);
    // Empty while dictating.
    static QList<StageCard> stageCards(const Input &input);
    static QList<double> barHeights(float audioLevel);
    static QString stageTitle(Stage stage);
    static QString stageSubtitle(Stage stage, StageState state);
    static QString stageColor(Stage stage);
    static QString elapsedText(double seconds);

    explicit DictationOverlayModel(QObject *parent = nullptr);

    // Follows the coordinator from now on (its settings fields are read
    // whenever any of its published values changes).
    void follow(DictationSessionCoordinator &coordinator);
    const Input &input() const { return m_input; }
    void setInput(const Input &input);

    bool isDictating() const { return m_input.isDictating; }
    QString mascotStateName() const;
    QString statusTitle() const { return statusTitle(m_input); }
    QString statusColor() const { return statusColor(m_input); }
    QString hintLine() const { return hintLine(m_input); }
    QString liveTranscript() const { return m_input.liveTranscript; }
    float audioLevel() const { return m_input.audioLevel; }
    QVariantList barHeightList() const;
    QVariantList stageList() const;

signals:
    void changed();

private slots:
    void readCoordinator();

private:
    QPointer<DictationSessionCoordinator> m_coordinator;
    Input m_input;
};
