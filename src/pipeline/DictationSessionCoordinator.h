#pragma once

#include "pipeline/ASRModelPreference.h"
#include "pipeline/DictationMode.h"
#include "pipeline/LanguageOption.h"
#include "pipeline/RewritePreset.h"

#include <QFuture>
#include <QObject>
#include <QString>

class ModelManager;

// Owns one dictation at a time: remembers the application being typed into,
// starts the transcriber and the microphone, turns the final text into the
// delivered text and types it, and after a parallel dictation runs the timed
// refinement stages. Main thread only.
//
// The published surface below is what the interface binds to; the wiring
// (constructor and collaborators) is completed with the coordinator itself.
class DictationSessionCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDictating READ isDictating NOTIFY isDictatingChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(QString liveTranscript READ liveTranscript NOTIFY liveTranscriptChanged)
    Q_PROPERTY(QString refinedTranscript READ refinedTranscript NOTIFY refinedTranscriptChanged)
    Q_PROPERTY(bool isRefining READ isRefining NOTIFY isRefiningChanged)
    Q_PROPERTY(QString largeModelTranscript READ largeModelTranscript NOTIFY largeModelTranscriptChanged)
    Q_PROPERTY(bool isLargeModelProcessing READ isLargeModelProcessing NOTIFY isLargeModelProcessingChanged)
    Q_PROPERTY(QString finalText READ finalText NOTIFY finalTextChanged)
    Q_PROPERTY(bool isPolishing READ isPolishing NOTIFY isPolishingChanged)
    Q_PROPERTY(QString lastTranscribedText READ lastTranscribedText NOTIFY lastTranscribedTextChanged)
    // "toggle" or "hold"
    Q_PROPERTY(QString activeDictationModeName READ activeDictationModeName NOTIFY activeDictationModeChanged)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString activeASRModelLabel READ activeASRModelLabel NOTIFY activeASRModelLabelChanged)
    Q_PROPERTY(double refiningElapsedSeconds READ refiningElapsedSeconds NOTIFY refiningElapsedSecondsChanged)
    Q_PROPERTY(double largeModelElapsedSeconds READ largeModelElapsedSeconds NOTIFY largeModelElapsedSecondsChanged)
    Q_PROPERTY(double polishingElapsedSeconds READ polishingElapsedSeconds NOTIFY polishingElapsedSecondsChanged)

public:
    using DictationMode = ::DictationMode;
    enum class TimedStage { refining, largeModel, polishing };

    bool isDictating() const { return m_isDictating; }
    bool isStarting() const { return m_isStarting; }
    bool isProcessing() const { return m_isProcessing; }
    QString liveTranscript() const { return m_liveTranscript; }
    QString refinedTranscript() const { return m_refinedTranscript; }
    bool isRefining() const { return m_isRefining; }
    QString largeModelTranscript() const { return m_largeModelTranscript; }
    bool isLargeModelProcessing() const { return m_isLargeModelProcessing; }
    QString finalText() const { return m_finalText; }
    bool isPolishing() const { return m_isPolishing; }
    QString lastTranscribedText() const { return m_lastTranscribedText; }
    DictationMode activeDictationMode() const { return m_activeDictationMode; }
    QString activeDictationModeName() const;
    void setActiveDictationMode(DictationMode mode);
    float audioLevel() const { return m_audioLevel; }
    QString statusText() const { return m_statusText; }
    QString activeASRModelLabel() const { return m_activeASRModelLabel; }
    double refiningElapsedSeconds() const { return m_refiningElapsedSeconds; }
    double largeModelElapsedSeconds() const { return m_largeModelElapsedSeconds; }
    double polishingElapsedSeconds() const { return m_polishingElapsedSeconds; }

    // Plain settings fields, written by the menu-bar view model and read at
    // each start and stop.
    LanguageOption selectedLanguage = LanguageOption::english;
    RewritePreset selectedPreset = RewritePreset::grammarCorrect;
    ASRModelPreference selectedASRModel = ASRModelPreference::parallelFast;
    bool fillerRemovalEnabled = true;
    bool autoRewriteEnabled = true;
    bool autoInjectEnabled = true;
    bool largeModelEnabled = false;
    bool postProcessingEnabled = true;

    ModelManager &modelManager() const;

    // Never fail to the caller; outcomes show in the published state.
    Q_INVOKABLE void toggleDictation();
    QFuture<void> startDictation();
    QFuture<void> stopDictation();

signals:
    void isDictatingChanged();
    void isStartingChanged();
    void isProcessingChanged();
    void liveTranscriptChanged();
    void refinedTranscriptChanged();
    void isRefiningChanged();
    void largeModelTranscriptChanged();
    void isLargeModelProcessingChanged();
    void finalTextChanged();
    void isPolishingChanged();
    void lastTranscribedTextChanged();
    void activeDictationModeChanged();
    void audioLevelChanged();
    void statusTextChanged();
    void activeASRModelLabelChanged();
    void refiningElapsedSecondsChanged();
    void largeModelElapsedSecondsChanged();
    void polishingElapsedSecondsChanged();

private:
    bool m_isDictating = false;
    bool m_isStarting = false;
    bool m_isProcessing = false;
    QString m_liveTranscript;
    QString m_refinedTranscript;
    bool m_isRefining = false;
    QString m_largeModelTranscript;
    bool m_isLargeModelProcessing = false;
    QString m_finalText;
    bool m_isPolishing = false;
    QString m_lastTranscribedText;
    DictationMode m_activeDictationMode = DictationMode::toggle;
    float m_audioLevel = 0.0f;
    QString m_statusText = QStringLiteral("Ready");
    QString m_activeASRModelLabel;
    double m_refiningElapsedSeconds = 0.0;
    double m_largeModelElapsedSeconds = 0.0;
    double m_polishingElapsedSeconds = 0.0;
};
