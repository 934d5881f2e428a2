#include "FakeSpeechRecognizer.h"

FakeRecognitionTask::FakeRecognitionTask(std::shared_ptr<RecognitionRequest> request, RecognitionResultHandler handler)
    : m_request(std::move(request))
    , m_handler(std::move(handler))
{
}

void FakeRecognitionTask::cancel()
{
    m_cancelled = true;
    m_state = RecognitionTaskState::completed;
}

void FakeRecognitionTask::deliverPartial(const QString &text)
{
    m_handler(SpeechRecognitionResult { text, false }, std::nullopt);
}

void FakeRecognitionTask::deliverFinal(const QString &text)
{
    m_handler(SpeechRecognitionResult { text, true }, std::nullopt);
}

void FakeRecognitionTask::deliverError(const QString &description)
{
    m_handler(std::nullopt, description);
}

const QList<float> &FakeRecognitionTask::receivedSamples()
{
    m_received.append(m_request->takeAudio().samples);
    return m_received;
}

FakeSpeechRecognizer::FakeSpeechRecognizer(FakeSpeechRecognition &owner, QString localeIdentifier)
    : m_owner(owner)
    , m_locale(std::move(localeIdentifier))
{
}

bool FakeSpeechRecognizer::isAvailable() const
{
    return m_owner.isAvailable();
}

bool FakeSpeechRecognizer::supportsOnDeviceRecognition() const
{
    return m_owner.supportsOnDeviceRecognition();
}

std::shared_ptr<RecognitionTask> FakeSpeechRecognizer::recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                                       RecognitionResultHandler handler)
{
    auto task = std::make_shared<FakeRecognitionTask>(std::move(request), std::move(handler));
    m_owner.addTask(task);
    return task;
}

QFuture<SpeechAuthorizationStatus> FakeSpeechRecognition::requestAuthorization()
{
    return QtFuture::makeReadyFuture(m_status);
}

std::unique_ptr<SpeechRecognizer> FakeSpeechRecognition::recognizer(const QString &localeIdentifier)
{
    if (!m_locales.contains(localeIdentifier))
        return nullptr;
    return std::make_unique<FakeSpeechRecognizer>(*this, localeIdentifier);
}

void FakeSpeechRecognition::addTask(std::shared_ptr<FakeRecognitionTask> task)
{
    m_tasks.append(task);
    if (m_onTaskStarted)
        m_onTaskStarted(*task);
}
