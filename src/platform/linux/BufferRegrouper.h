#pragma once

#include "platform/AudioInput.h"

#include <functional>

// Cuts a stream of interleaved float samples into tap buffers of a fixed
// number of frames, whatever sizes the device reads come in.
class BufferRegrouper {
public:
    using Deliver = std::function<void(const AudioInput::Buffer &)>;

    // Drops what is pending and starts over with this shape.
    void reset(int bufferFrames, int channelCount);
    // Adds samples and delivers every complete buffer.
    void append(const QList<float> &interleaved, const Deliver &deliver);
    // Delivers the whole frames still pending as one shorter buffer.
    void flush(const Deliver &deliver);

private:
    void deliverPending(bool all, const Deliver &deliver);

    int m_bufferFrames = 1024;
    int m_channels = 0;
    QList<float> m_pending;
};
