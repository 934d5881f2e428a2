#include "FakeAudioInput.h"

#include "support/DescribedError.h"

#include <QFuture>

QFuture<AudioInput::Access> FakeAudioInput::requestPermission()
{
    return QtFuture::makeReadyFuture(m_access);
}

void FakeAudioInput::installTap(int bufferFrames, Tap tap)
{
    m_tap = std::move(tap);
    m_bufferFrames = bufferFrames;
    ++m_installedTaps;
}

void FakeAudioInput::removeTap()
{
    m_tap = nullptr;
    m_installedTaps = 0;
}

void FakeAudioInput::start()
{
    ++m_starts;
    if (m_startFailure) {
        const QString description = *m_startFailure;
        m_startFailure.reset();
        throw DescribedError(description);
    }
    m_running = true;
}

void FakeAudioInput::stop()
{
    m_running = false;
}

bool FakeAudioInput::deliver(const Buffer &buffer)
{
    if (!m_tap)
        return false;
    m_tap(buffer);
    return true;
}

bool FakeAudioInput::deliverInterleaved(const QList<float> &interleaved)
{
    return deliver(Buffer::fromInterleaved(interleaved.constData(), interleaved.size(), m_format.channelCount));
}
