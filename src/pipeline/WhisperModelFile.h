#pragma once

#include "pipeline/WhisperModelFamily.h"

#include <QString>

// Structural check of a whisper.cpp ggml model file before the library reads
// it: the library trusts sizes read from the file and accepts a file whose last
// tensor is cut short, so a damaged download would load garbage or crash.
namespace WhisperModelFile {
// Empty when the file is complete, of one of the family's shapes and holds
// exactly the tensors that shape calls for, else why it is not.
QString problemWith(const QString &path, const WhisperModelFamily &family);
}
