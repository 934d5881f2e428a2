#pragma once

#include "pipeline/WhisperEngineAdapter.h"

#include <QException>
#include <QPromise>
#include <QStringList>

#include <deque>
#include <memory>

// A Whisper engine whose answers the test scripts. Every call is written to a
// shared journal ("load <file name>", "ingest <n>", "finalize") so that tests
// can check the order in which the engine was used.
class FakeWhisperEngineAdapter : public WhisperEngineAdapter {
public:
    struct Script {
        QStringList journal;
        // Answers, consumed in order; when a queue is empty the defaults apply.
        std::deque<std::optional<QString>> ingestResults; // default: none
        std::deque<QString> finalizeResults;              // default: ""
        std::shared_ptr<QException> loadError;
        std::shared_ptr<QException> ingestError;
        std::shared_ptr<QException> finalizeError;
        // When set, loadModel() ends only when the test finishes the promise.
        bool holdLoad = false;
        QList<std::shared_ptr<QPromise<void>>> heldLoads;
        // When set, finalize() answers only when the test finishes the promise.
        bool holdFinalize = false;
        QList<std::shared_ptr<QPromise<QString>>> heldFinalizes;
        qsizetype samplesIngested = 0;
        AudioSamples lastIngested;
    };

    explicit FakeWhisperEngineAdapter(std::shared_ptr<Script> script);

    QFuture<void> loadModel(const QString &modelPath) override;
    QFuture<std::optional<QString>> ingest(const AudioSamples &frames, LanguageOption language) override;
    QFuture<QString> finalize(LanguageOption language) override;

private:
    std::shared_ptr<Script> m_script;
};

// Finishes a held finalize with a text.
void finishHeld(const std::shared_ptr<QPromise<QString>> &promise, const QString &text);
