#include "MacAudioCaptureService.h"

#include "platform/AudioInput.h"
#include "platform/Platform.h"
#include "support/Log.h"

#include <algorithm>
#include <cmath>

namespace {
const char *const kTag = "MacAudio";
}

MacAudioCaptureService::MacAudioCaptureService()
    : MacAudioCaptureService(Platform::instance().audioInput())
{
}

MacAudioCaptureService::MacAudioCaptureService(AudioInput &input)
    : m_engine(input)
{
}

MacAudioCaptureService::~MacAudioCaptureService()
{
    // The input outlives us; leave no tap calling into a released service.
    if (m_tapInstalled) {
        m_engine.removeTap();
        m_engine.stop();
    }
}

QFuture<AudioInput::Access> MacAudioCaptureService::requestMicrophoneAccess()
{
    return m_engine.requestPermission().then([](AudioInput::Access access) {
        logLine(kTag, QStringLiteral("Mic permission granted=%1").arg(access == AudioInput::Access::granted ? 1 : 0));
        if (access == AudioInput::Access::noDevice)
            logLine(kTag, "No input device");
        return access;
    });
}

void MacAudioCaptureService::start(FrameCallback onFrames)
{
    logLine(kTag, "Starting audio capture");
    const AudioInput::Format format = m_engine.inputFormat();
    if (m_tapInstalled)
        m_engine.removeTap();

    const std::weak_ptr<Shared> weakShared = m_shared;
    const double targetRate = m_targetSampleRate;
    m_engine.installTap(kTapBufferFrames, [weakShared, format, targetRate, onFrames](const AudioInput::Buffer &buffer) {
        const std::shared_ptr<Shared> shared = weakShared.lock();
        if (!shared || buffer.channels.isEmpty())
            return;
        // Only the first channel is used; others are not mixed in.
        AudioSamples samples = buffer.channels.first().first(std::min<qsizetype>(buffer.frameLength, buffer.channels.first().size()));
        const float gain = shared->whisperModeGain;
        if (gain > 1.0f) {
            for (float &s : samples)
                s = std::clamp(s * gain, -1.0f, 1.0f);
        }
        onFrames(resample(samples, format.sampleRate, targetRate));
    });
    m_tapInstalled = true;

    m_engine.start();
    logLine(kTag, QStringLiteral("Engine started, sample rate: %1 → %2")
                      .arg(QString::number(format.sampleRate, 'f', 0), QString::number(m_targetSampleRate, 'f', 0)));
}

void MacAudioCaptureService::stop()
{
    if (m_tapInstalled) {
        m_engine.removeTap();
        m_tapInstalled = false;
    }
    m_engine.stop();
    logLine(kTag, "Engine stopped");
}

AudioSamples MacAudioCaptureService::resample(const AudioSamples &input, double sourceRate, double targetRate)
{
    const qsizetype n = input.size();
    if (n == 0 || std::abs(sourceRate - targetRate) < 1.0)
        return input;
    // A rate of zero (a device that reports no format) would make the length infinite.
    if (!(sourceRate > 0.0) || !(targetRate > 0.0) || !std::isfinite(sourceRate) || !std::isfinite(targetRate))
        return {};
    const double ratio = sourceRate / targetRate;
    const auto m = qsizetype(double(n) / ratio);
    AudioSamples output;
    if (m < 1)
        return output;
    output.reserve(m);
    for (qsizetype i = 0; i < m; ++i) {
        const double position = ratio * double(i);
        const auto k = qsizetype(position);
        const qsizetype k2 = std::min(n - 1, k + 1);
        const auto f = float(position - double(k));
        output.append((1.0f - f) * input[k] + input[k2] * f);
    }
    return output;
}
