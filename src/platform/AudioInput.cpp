#include "AudioInput.h"

AudioInput::Buffer AudioInput::Buffer::fromInterleaved(const float *samples, qsizetype sampleCount, int channelCount)
{
    Buffer buffer;
    if (channelCount < 1)
        return buffer;
    buffer.frameLength = int(sampleCount / channelCount);
    buffer.channels.resize(channelCount);
    for (int c = 0; c < channelCount; ++c) {
        QList<float> &channel = buffer.channels[c];
        channel.resize(buffer.frameLength);
        for (int i = 0; i < buffer.frameLength; ++i)
            channel[i] = samples[qsizetype(i) * channelCount + c];
    }
    return buffer;
}
