#include "BufferRegrouper.h"

void BufferRegrouper::reset(int bufferFrames, int channelCount)
{
    m_bufferFrames = qMax(1, bufferFrames);
    m_channels = channelCount;
    m_pending.clear();
}

void BufferRegrouper::append(const QList<float> &interleaved, const Deliver &deliver)
{
    m_pending += interleaved;
    deliverPending(false, deliver);
}

void BufferRegrouper::flush(const Deliver &deliver)
{
    deliverPending(true, deliver);
    m_pending.clear();
}

void BufferRegrouper::deliverPending(bool all, const Deliver &deliver)
{
    if (m_channels <= 0)
        return;
    const qsizetype chunk = qsizetype(m_bufferFrames) * m_channels;
    qsizetype offset = 0;
    while (m_pending.size() - offset >= chunk || (all && m_pending.size() - offset >= m_channels)) {
        const qsizetype take = std::min(chunk, (m_pending.size() - offset) / m_channels * m_channels);
        if (deliver)
            deliver(AudioInput::Buffer::fromInterleaved(m_pending.constData() + offset, take, m_channels));
        offset += take;
    }
    m_pending.remove(0, offset);
}
