#pragma once

#include "platform/RecognitionRequest.h"
#include "platform/RecognitionTask.h"

#include <atomic>
#include <memory>

// What a recognition task's worker thread shares with the task: the request it
// reads, the handler it reports to, its state, and the cancel flag after which
// nothing more is reported.
struct RecognitionWorkerState {
    std::shared_ptr<RecognitionRequest> request;
    RecognitionResultHandler handler;
    std::atomic<RecognitionTaskState> state { RecognitionTaskState::starting };
    std::atomic<bool> cancelled { false };

    void cancel()
    {
        if (cancelled.exchange(true))
            return;
        RecognitionTaskState running = state;
        while (running != RecognitionTaskState::completed
               && !state.compare_exchange_weak(running, RecognitionTaskState::canceling)) {
        }
        request->wake();
    }
    void deliver(const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &error)
    {
        if (!cancelled)
            handler(result, error);
    }
};
