#pragma once

#include <functional>
#include <vector>

// The default loudspeakers. Buffers of mono float samples play one after
// another in the order given; each one reports once how it ended. Called and
// reporting on the main thread.
class AudioOutput {
public:
    // true: every sample was heard; false: stop() cut it off or dropped it.
    using Completion = std::function<void(bool played)>;

    virtual ~AudioOutput() = default;

    // Whether a playback device exists.
    virtual bool isAvailable() = 0;
    // Queues samples behind what is already playing (a buffer of another
    // rate first ends what plays). False, and no completion ever, when the
    // device cannot start. Completions run from the event loop, never
    // inside this call.
    virtual bool play(std::vector<float> samples, int sampleRate, Completion completion) = 0;
    // Silences the output at once; queued buffers complete with false.
    virtual void stop() = 0;
};
