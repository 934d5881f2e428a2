#pragma once

#include "platform/RecognitionRequest.h"
#include "platform/SpeechRecognizer.h"
#include "support/SynthesizedSpeech.h"

#include <QMutex>
#include <QTest>

// What one recognition task delivered, collected from its worker thread.
// A result after the final one counts as an error.
struct RecognitionResults {
    QMutex mutex;
    QStringList partials;
    std::optional<QString> final;
    std::optional<QString> error;

    RecognitionResultHandler handler()
    {
        return [this](const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &failure) {
            QMutexLocker lock(&mutex);
            if (failure)
                error = failure;
            else if (result && final)
                error = QStringLiteral("a result after the final one");
            else if (result && result->isFinal)
                final = result->formattedString;
            else if (result)
                partials.append(result->formattedString);
        };
    }
    qsizetype partialCount()
    {
        QMutexLocker lock(&mutex);
        return partials.size();
    }
    bool ended()
    {
        QMutexLocker lock(&mutex);
        return final || error;
    }

    // Feeds the audio in capture-sized batches, ends it and waits for the
    // task to end; false when it never did.
    bool recognise(SpeechRecognizer &recognizer, const QList<float> &audio, int timeoutMs = 60'000)
    {
        auto request = std::make_shared<RecognitionRequest>();
        auto task = recognizer.recognitionTask(request, handler());
        for (const auto &batch : SynthesizedSpeech::batches(audio))
            request->append(batch);
        request->endAudio();
        return QTest::qWaitFor([&] { return ended() && task->state() == RecognitionTaskState::completed; }, timeoutMs);
    }
};
