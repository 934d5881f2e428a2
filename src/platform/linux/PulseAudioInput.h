#pragma once

#include "platform/AudioInput.h"

#include <QThread>

class AudioCaptureWorker;

// The default input device through QAudioSource (PulseAudio), read on a
// capture thread of its own and regrouped into fixed-size buffers in the
// device's own rate and channel count. The tap must never wait on the main
// thread: removeTap() and stop() wait on the capture thread.
class PulseAudioInput : public AudioInput {
public:
    PulseAudioInput();
    ~PulseAudioInput() override;

    QFuture<Access> requestPermission() override;
    Format inputFormat() override;
    void installTap(int bufferFrames, Tap tap) override;
    void removeTap() override;
    void start() override;
    void stop() override;

private:
    QThread m_thread;
    AudioCaptureWorker *m_worker = nullptr;
};
