#pragma once

#include "platform/AudioOutput.h"

#include <QPointer>

#include <vector>

class QAudioSink;
class QueuedSamplesDevice;

// The default output device through QAudioSink (PulseAudio). The sink pulls
// queued buffers and silence between them, so buffers added while it plays
// follow without a restart; it stops once the queue has been heard.
class PulseAudioOutput : public AudioOutput {
public:
    PulseAudioOutput();
    ~PulseAudioOutput() override;

    bool isAvailable() override;
    bool play(std::vector<float> samples, int sampleRate, Completion completion) override;
    void stop() override;

private:
    bool startSink(int sampleRate);
    void retireSink();

    QueuedSamplesDevice *m_device = nullptr;
    QAudioSink *m_sink = nullptr;
    // stopped, awaiting the event loop's deletion
    std::vector<QPointer<QAudioSink>> m_retiredSinks;
    int m_sampleRate = 0;
    // every piece of speech tries again: one line until it works
    bool m_failureLogged = false;
};
