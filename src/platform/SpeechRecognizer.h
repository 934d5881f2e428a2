#pragma once

#include "platform/RecognitionRequest.h"
#include "platform/RecognitionTask.h"

#include <QFuture>
#include <QString>

#include <memory>

// The on-device recogniser of one locale.
class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    virtual QString localeIdentifier() const = 0;
    virtual bool isAvailable() const = 0;
    virtual bool supportsOnDeviceRecognition() const = 0;

    // Starts recognising the request's audio; results go to the handler until
    // a final result or an error, or until the task is cancelled.
    virtual std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                             RecognitionResultHandler handler) = 0;
};

enum class SpeechAuthorizationStatus {
    notDetermined,
    denied,
    restricted,
    authorized,
};

// Speech recognition as the platform offers it: permission, and a recogniser
// per locale.
class SpeechRecognition {
public:
    virtual ~SpeechRecognition() = default;

    virtual QFuture<SpeechAuthorizationStatus> requestAuthorization() = 0;
    // None when the platform has no recogniser for the locale (e.g. "en-US").
    virtual std::unique_ptr<SpeechRecognizer> recognizer(const QString &localeIdentifier) = 0;
};
