#pragma once

#include "platform/AudioOutput.h"

#include <QList>
#include <QObject>

// Loudspeakers that record what they are given. Each buffer is heard on the
// next turn of the event loop unless holdPlayback is set; then
// finishPlayback() ends the oldest one.
class FakeAudioOutput : public QObject, public AudioOutput {
public:
    struct Played {
        std::vector<float> samples;
        int sampleRate = 0;
    };

    bool available = true;
    // play() refuses, as a device that cannot start.
    bool failing = false;
    bool holdPlayback = false;
    QList<Played> played;
    int stopCount = 0;

    bool isAvailable() override { return available; }
    bool play(std::vector<float> samples, int sampleRate, Completion completion) override;
    void stop() override;

    // Completes the oldest buffer still playing as heard; false when none.
    bool finishPlayback();
    qsizetype playingCount() const { return m_playing.size(); }

private:
    QList<Completion> m_playing;
};
