#include "RecognitionRequest.h"

void RecognitionRequest::append(const QList<float> &samples)
{
    if (samples.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended)
            return;
        m_queued.append(samples);
    }
    m_changed.notify_all();
}

void RecognitionRequest::endAudio()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

bool RecognitionRequest::isAudioEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

RecognitionRequest::Audio RecognitionRequest::takeAudio()
{
    std::lock_guard lock(m_mutex);
    Audio audio { std::exchange(m_queued, {}), m_ended };
    return audio;
}

RecognitionRequest::Audio RecognitionRequest::waitForAudio()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_queued.isEmpty() || m_ended || m_wakeRequested; });
    m_wakeRequested = false;
    return Audio { std::exchange(m_queued, {}), m_ended };
}

void RecognitionRequest::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_wakeRequested = true;
    }
    m_changed.notify_all();
}
