#pragma once

#include <QFuture>
#include <QList>

#include <functional>

// The default microphone. Buffers reach the tap on a capture thread, never
// on the main thread; everything else is called from the main thread.
class AudioInput {
public:
    struct Format {
        double sampleRate = 0;
        int channelCount = 0;
    };

    // One tap delivery at the device's own rate. `channels` holds one list of
    // float samples per channel, all of frameLength samples; it is empty when
    // the device delivers samples that are not float.
    struct Buffer {
        QList<QList<float>> channels;
        int frameLength = 0;

        // Splits interleaved frames into channels; a trailing partial frame is dropped.
        static Buffer fromInterleaved(const float *samples, qsizetype sampleCount, int channelCount);
    };

    using Tap = std::function<void(const Buffer &)>;

    // Whether the user may record. A machine without any input device is
    // told apart from a refusal: the user is told something else to do.
    enum class Access { granted, refused, noDevice };

    virtual ~AudioInput() = default;

    // Never fails.
    virtual QFuture<Access> requestPermission() = 0;

    // The device's native format, read at this moment.
    virtual Format inputFormat() = 0;
    // One tap at a time: remove the installed one before installing another.
    virtual void installTap(int bufferFrames, Tap tap) = 0;
    // Once it returns, the tap is never called again.
    virtual void removeTap() = 0;
    // Throws DescribedError when capture cannot start.
    virtual void start() = 0;
    virtual void stop() = 0;
};
