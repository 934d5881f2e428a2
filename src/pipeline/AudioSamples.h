#pragma once

#include <QList>

// Mono 32-bit float samples at 16,000 Hz, range -1...1, wherever audio passes
// between capture, transcription, the Whisper engine and the cloud client.
using AudioSamples = QList<float>;

constexpr int kSampleRate = 16000;
