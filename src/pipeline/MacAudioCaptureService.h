#pragma once

#include "pipeline/AudioSamples.h"
#include "platform/AudioInput.h"

#include <QFuture>

#include <atomic>
#include <functional>
#include <memory>

// Records the default input device and hands every captured buffer on as
// mono float samples at 16 kHz. Created, started and stopped on the main
// thread; the frame callback runs on the capture thread.
class MacAudioCaptureService {
public:
    using FrameCallback = std::function<void(const AudioSamples &)>;

    // On the installed platform's microphone.
    MacAudioCaptureService();
    explicit MacAudioCaptureService(AudioInput &input);
    ~MacAudioCaptureService();
    MacAudioCaptureService(const MacAudioCaptureService &) = delete;
    MacAudioCaptureService &operator=(const MacAudioCaptureService &) = delete;

    // Resolves to whether the user may record. Never fails.
    QFuture<AudioInput::Access> requestMicrophoneAccess();

    // Installs the tap and starts capture; throws the input's error unchanged
    // (the tap then stays installed until the next start or stop).
    void start(FrameCallback onFrames);
    void stop();

    // Linear interpolation without filtering; passes the input through when
    // the rates are within 1 Hz of each other.
    static AudioSamples resample(const AudioSamples &input, double sourceRate, double targetRate);

    double targetSampleRate() const { return m_targetSampleRate; }
    bool isTapInstalled() const { return m_tapInstalled; }
    float whisperModeGain() const { return m_shared->whisperModeGain; }
    void setWhisperModeGain(float gain) { m_shared->whisperModeGain = gain; }

private:
    // What the capture thread reads; it holds this weakly, never the service.
    struct Shared {
        std::atomic<float> whisperModeGain{1.0f};
    };

    static constexpr int kTapBufferFrames = 1024;

    AudioInput &m_engine;
    const double m_targetSampleRate = kSampleRate;
    bool m_tapInstalled = false;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
};
