#pragma once

#include "platform/AudioOutput.h"

#include <QList>
#include <QObject>
#include <QTimer>

// Loudspeakers that record what they are given. Each buffer is heard on the
// next turn of the event loop unless holdPlayback is set; then
// finishPlayback() ends the oldest one.
class FakeAudioOutput : public QObject, public AudioOutput {
public:
    struct Played {
        std::vector<float> samples;
        int sampleRate = 0;
    };

    // play() refuses, as a device that cannot start.
    bool failing = false;
    bool holdPlayback = false;
    QList<Played> played;

    bool isAvailable() override { return !failing; }
    bool play(std::vector<float> samples, int sampleRate, Completion completion) override
    {
        if (failing)
            return false;
        played.append({std::move(samples), sampleRate});
        m_playing.append(std::move(completion));
        if (!holdPlayback)
            QTimer::singleShot(0, this, [this] { finishPlayback(); });
        return true;
    }
    void stop() override
    {
        for (const Completion &completion : std::exchange(m_playing, {})) {
            if (completion)
                QTimer::singleShot(0, this, [completion] { completion(false); });
        }
    }

    // Completes the oldest buffer still playing as heard; false when none.
    bool finishPlayback()
    {
        if (m_playing.isEmpty())
            return false;
        if (const Completion completion = m_playing.takeFirst())
            completion(true);
        return true;
    }

private:
    QList<Completion> m_playing;
};
