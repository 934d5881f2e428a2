#pragma once

#include "pipeline/AudioSamples.h"

#include <QByteArray>

namespace WavEncoder {

constexpr int headerBytes = 44;

// A complete in-memory WAV file: 16-bit PCM, mono, little-endian. Samples are
// clamped to -1...1 and scaled by 32767, truncating toward zero.
QByteArray makeWAVData(const AudioSamples &samples, int sampleRate = kSampleRate);

} // namespace WavEncoder
