#pragma once

#include "pipeline/AudioSamples.h"

// Every sample of the current dictation, for the refinement after its stop;
// the newest `capacity` are kept.
class SessionSampleHistory {
public:
    static constexpr qsizetype capacity = 10'000'000;

    // Empties the history, keeping its storage.
    void clear();
    void append(const AudioSamples &frames);
    // A copy of the kept samples, oldest first.
    AudioSamples samples() const;

private:
    // The kept samples start at m_start; the dropped head is compacted away in
    // large steps, not on every batch.
    AudioSamples m_samples;
    qsizetype m_start = 0;
};
