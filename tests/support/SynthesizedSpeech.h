#pragma once

#include <QList>
#include <QString>

// Real English speech for recogniser tests: espeak-ng speaks the text, sox
// turns it into 16 kHz mono with a little silence around it.
namespace SynthesizedSpeech {

// Samples in -1...1; empty (with a warning) when the tools fail.
QList<float> samples(const QString &text);

// The samples cut into consecutive batches of the capture size.
QList<QList<float>> batches(const QList<float> &samples, qsizetype batchSize = 1024);

} // namespace SynthesizedSpeech
