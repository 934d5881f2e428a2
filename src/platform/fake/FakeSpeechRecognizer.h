#pragma once

#include "platform/SpeechRecognizer.h"

#include <QList>
#include <QStringList>

class FakeSpeechRecognition;

// A task that recognises nothing by itself: the test delivers its results.
class FakeRecognitionTask : public RecognitionTask {
public:
    FakeRecognitionTask(std::shared_ptr<RecognitionRequest> request, RecognitionResultHandler handler);

    void cancel() override;
    RecognitionTaskState state() const override { return m_state; }

    // Calls the handler as the recogniser's delivery would, also after a
    // cancel (a delivery that was already under way).
    void deliverPartial(const QString &text);
    void deliverFinal(const QString &text);
    void deliverError(const QString &description);
    void setState(RecognitionTaskState state) { m_state = state; }

    bool isCancelled() const { return m_cancelled; }
    const std::shared_ptr<RecognitionRequest> &request() const { return m_request; }
    // Every sample the request has received so far.
    const QList<float> &receivedSamples();

private:
    std::shared_ptr<RecognitionRequest> m_request;
    RecognitionResultHandler m_handler;
    RecognitionTaskState m_state = RecognitionTaskState::running;
    bool m_cancelled = false;
    QList<float> m_received;
};

class FakeSpeechRecognizer : public SpeechRecognizer {
public:
    FakeSpeechRecognizer(FakeSpeechRecognition &owner, QString localeIdentifier);

    QString localeIdentifier() const override { return m_locale; }
    bool isAvailable() const override;
    bool supportsOnDeviceRecognition() const override;
    std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     RecognitionResultHandler handler) override;

private:
    FakeSpeechRecognition &m_owner;
    QString m_locale;
};

// Permission, locales and availability as the test sets them; remembers every
// task it started, in order.
class FakeSpeechRecognition : public SpeechRecognition {
public:
    QFuture<SpeechAuthorizationStatus> requestAuthorization() override;
    std::unique_ptr<SpeechRecognizer> recognizer(const QString &localeIdentifier) override;

    void setAuthorizationStatus(SpeechAuthorizationStatus status) { m_status = status; }
    void setLocales(const QStringList &locales) { m_locales = locales; }
    void setAvailable(bool available) { m_available = available; }
    void setSupportsOnDeviceRecognition(bool supported) { m_onDevice = supported; }
    // Runs right after each task is created, before it is handed out.
    void setOnTaskStarted(std::function<void(FakeRecognitionTask &)> hook) { m_onTaskStarted = std::move(hook); }

    bool isAvailable() const { return m_available; }
    bool supportsOnDeviceRecognition() const { return m_onDevice; }
    const QList<std::shared_ptr<FakeRecognitionTask>> &tasks() const { return m_tasks; }
    std::shared_ptr<FakeRecognitionTask> lastTask() const { return m_tasks.isEmpty() ? nullptr : m_tasks.last(); }
    void addTask(std::shared_ptr<FakeRecognitionTask> task);

private:
    SpeechAuthorizationStatus m_status = SpeechAuthorizationStatus::authorized;
    QStringList m_locales { QStringLiteral("en-US") };
    bool m_available = true;
    bool m_onDevice = true;
    QList<std::shared_ptr<FakeRecognitionTask>> m_tasks;
    std::function<void(FakeRecognitionTask &)> m_onTaskStarted;
};
