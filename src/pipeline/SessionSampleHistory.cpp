#include "SessionSampleHistory.h"

namespace {
// Compact once this much has fallen out instead of moving ten million samples
// on every batch.
constexpr qsizetype kCompactionStep = 1'000'000;
} // namespace

void SessionSampleHistory::clear()
{
    m_samples.resize(0);
    m_start = 0;
}

void SessionSampleHistory::append(const AudioSamples &frames)
{
    m_samples.append(frames);
    const qsizetype kept = m_samples.size() - m_start;
    if (kept > capacity)
        m_start += kept - capacity;
    if (m_start >= kCompactionStep) {
        m_samples.remove(0, m_start);
        m_start = 0;
    }
}

AudioSamples SessionSampleHistory::samples() const
{
    return m_start == 0 ? m_samples : m_samples.mid(m_start);
}
