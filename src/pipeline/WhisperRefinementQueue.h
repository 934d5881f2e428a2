#pragma once

#include "pipeline/ASRModelPreference.h"
#include "pipeline/AudioSamples.h"
#include "pipeline/TranscriberRefinement.h"
#include "support/FutureWatch.h"
#include "support/LanguageOption.h"

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QPromise>

#include <deque>
#include <functional>
#include <memory>

class ModelManager;
struct ModelDescriptor;
class WhisperOfflineTranscriptionService;
class WhisperRefinementQueue;

// One user's hold on the shared Whisper service. The next user in line gets
// the service once the last copy of the turn is gone.
class WhisperTurn {
public:
    ~WhisperTurn();
    WhisperTurn(const WhisperTurn &) = delete;
    WhisperTurn &operator=(const WhisperTurn &) = delete;

private:
    friend class WhisperRefinementQueue;
    explicit WhisperTurn(WhisperRefinementQueue *queue);

    QPointer<WhisperRefinementQueue> m_queue;
};

// Refines parallel dictations after their stop: Whisper Base over every
// sample, then, when enabled and the accelerated encoder is installed,
// Whisper Large v3. Refinements and Whisper-mode dictations share the one
// Whisper service, one turn at a time in arrival order. Main thread only.
class WhisperRefinementQueue : public QObject {
    Q_OBJECT

public:
    using Turn = std::shared_ptr<WhisperTurn>;
    using DictationId = TranscriberRefinement::DictationId;
    using TextHandler = TranscriberRefinement::TextHandler;
    using FailureHandler = TranscriberRefinement::FailureHandler;

    WhisperRefinementQueue(WhisperOfflineTranscriptionService &whisper, const ModelManager &modelManager,
                           QObject *parent = nullptr);

    // Finishes with the turn once every earlier turn has been released.
    QFuture<Turn> takeTurn();
    bool isBusy() const { return m_busy; }

    // Queues the refinement of one dictation's samples. Every refinement
    // reports exactly once for the Base stage (text or failure) and, after a
    // Base text and when the large model is enabled, once for the Large stage;
    // a failed Base pass ends it. Each report carries the dictation's id and
    // runs in its own main-thread event.
    void refine(DictationId dictation, AudioSamples frames, LanguageOption language, bool largeModelEnabled);

    void setOnRefinedText(TextHandler handler) { m_onRefinedText = std::move(handler); }
    void setOnBaseModelFailed(FailureHandler handler) { m_onBaseModelFailed = std::move(handler); }
    void setOnLargeModelText(TextHandler handler) { m_onLargeModelText = std::move(handler); }
    void setOnLargeModelFailed(FailureHandler handler) { m_onLargeModelFailed = std::move(handler); }

    // Whether the accelerated encoder of Whisper Large v3 lies in the
    // application container's models directory.
    bool isCoreMLEncoderInstalled() const;

private:
    friend class WhisperTurn;
    void release();
    void grantNext();

    void runLargeStage(DictationId dictation, const Turn &turn, const AudioSamples &frames, LanguageOption language);
    // Loads the model, feeds every sample and gives the whole-session text;
    // a failed or late final decode is the pass's failure.
    QFuture<QString> runPass(ASRModelPreference model, const AudioSamples &frames, LanguageOption language);
    // A text, or for a failure why there is none.
    void report(const TextHandler &handler, DictationId dictation, const QString &text);
    // Why a pass of this model failed, for the user.
    QString failureNote(const ModelDescriptor &model, const std::exception &error) const;

    WhisperOfflineTranscriptionService &m_whisper;
    const ModelManager &m_modelManager;
    TextHandler m_onRefinedText;
    FailureHandler m_onBaseModelFailed;
    TextHandler m_onLargeModelText;
    FailureHandler m_onLargeModelFailed;

    bool m_busy = false;
    std::deque<QPromise<Turn>> m_waiting;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};
