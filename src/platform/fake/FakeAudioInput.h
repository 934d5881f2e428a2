#pragma once

#include "platform/AudioInput.h"

#include <QString>

#include <optional>

// A microphone the test feeds by hand; deliver() calls the tap on the
// caller's thread.
class FakeAudioInput : public AudioInput {
public:
    QFuture<Access> requestPermission() override;
    Format inputFormat() override { return m_format; }
    void installTap(int bufferFrames, Tap tap) override;
    void removeTap() override;
    void start() override;
    void stop() override;

    void setFormat(Format format) { m_format = format; }
    void setAccess(Access access) { m_access = access; }
    // The next start() throws a DescribedError with this description.
    void failNextStart(const QString &description) { m_startFailure = description; }

    // Calls the installed tap; returns false when none is installed.
    bool deliver(const Buffer &buffer);
    // Builds a buffer of the current channel count from interleaved samples.
    bool deliverInterleaved(const QList<float> &interleaved);

    // Taps installed and not removed; more than one means a doubled tap.
    int installedTapCount() const { return m_installedTaps; }
    int requestedBufferFrames() const { return m_bufferFrames; }
    bool isRunning() const { return m_running; }
    int startCount() const { return m_starts; }

private:
    Format m_format{48000.0, 1};
    Access m_access = Access::granted;
    std::optional<QString> m_startFailure;
    Tap m_tap;
    int m_installedTaps = 0;
    int m_bufferFrames = 0;
    bool m_running = false;
    int m_starts = 0;
};
