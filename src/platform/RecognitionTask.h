#pragma once

#include <QString>

#include <functional>
#include <optional>

// What the recogniser heard so far (partial) or in the end (final).
struct SpeechRecognitionResult {
    QString formattedString;
    bool isFinal = false;
};

// Called with a result, an error description, or (rarely) both, on a thread
// of the recogniser's choosing.
using RecognitionResultHandler =
    std::function<void(const std::optional<SpeechRecognitionResult> &result, const std::optional<QString> &error)>;

enum class RecognitionTaskState {
    starting,
    running,
    finishing,
    canceling,
    completed,
};

// One running recognition of a request.
class RecognitionTask {
public:
    virtual ~RecognitionTask() = default;

    // Stops recognising; the handler is not called once this returns,
    // except by a delivery already under way.
    virtual void cancel() = 0;
    virtual RecognitionTaskState state() const = 0;
};
