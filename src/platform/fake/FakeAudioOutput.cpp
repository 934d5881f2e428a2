#include "FakeAudioOutput.h"

#include <QTimer>

bool FakeAudioOutput::play(std::vector<float> samples, int sampleRate, Completion completion)
{
    if (failing)
        return false;
    played.append({std::move(samples), sampleRate});
    m_playing.append(std::move(completion));
    if (!holdPlayback)
        QTimer::singleShot(0, this, [this] { finishPlayback(); });
    return true;
}

void FakeAudioOutput::stop()
{
    ++stopCount;
    const QList<Completion> dropped = std::exchange(m_playing, {});
    for (const Completion &completion : dropped) {
        if (completion)
            QTimer::singleShot(0, this, [completion] { completion(false); });
    }
}

bool FakeAudioOutput::finishPlayback()
{
    if (m_playing.isEmpty())
        return false;
    const Completion completion = m_playing.takeFirst();
    if (completion)
        completion(true);
    return true;
}
