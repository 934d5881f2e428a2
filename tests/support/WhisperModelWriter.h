#pragma once

#include "pipeline/WhisperModelFamily.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Dimensions of a whisper.cpp model, and what of its file may be off. Vocabulary
// and audio context stay those of the real multilingual models, so the
// library's fixed token ids and 30 s window hold.
struct WhisperModelShape {
    // How the matrices are stored; vectors stay f32 and convolutions f16, as
    // in the published files.
    enum class Weights { f16, q5_0, q8_0 };

    int vocabulary = 51865;
    int audioContext = 1500;
    int state = 32;
    int heads = 2;
    int audioLayers = 1;
    int textContext = 16;
    int textLayers = 1;
    int mels = 80;
    Weights weights = Weights::f16;
    std::optional<int> textHeads = std::nullopt; // as many as the encoder has when unset
    int filterBins = 201; // whisper's 400-point FFT
    std::optional<std::int32_t> fileType = std::nullopt; // the header's ftype when not that of `weights`

    // One tensor off what the header calls for.
    struct TensorFault {
        // added: an f32 vector after the last tensor; f32: stored as f32;
        // transposed: its first two extents swapped
        enum class Kind { none, missing, added, f32, transposed };
        Kind kind = Kind::none;
        QByteArray tensor;
    };
    TensorFault tensorFault = {};

    // Loads and decodes in well under a second. No published model is this
    // small: only an engine or a manager given tinyFamily() accepts it.
    static WhisperModelShape tiny() { return {}; }
    static WhisperModelFamily tinyFamily();
    // The shape of Whisper Base.
    static WhisperModelShape base();
    // Large v3's widths, vocabulary and 128 mel bands, on one layer each, so
    // the file stays near 100 MB.
    static WhisperModelShape largeV3(Weights weights);
};

// Writes whisper.cpp ggml model files with random weights (half precision
// matrices and convolutions, as real models have), for tests and benchmarks.
// Every writer returns an empty string on success, else what went wrong.
class WhisperModelWriter {
public:
    static QString writeModel(const QString &path, const WhisperModelShape &shape, std::uint32_t seed);
    static QString writeTinyModel(const QString &path, std::uint32_t seed = 1)
    {
        return writeModel(path, WhisperModelShape::tiny(), seed);
    }

    // Files the engine must refuse without crashing.
    enum class Damage {
        empty, // zero bytes
        badMagic, // a well-formed model with the wrong first word
        truncatedInHeader,
        truncatedInVocabulary,
        truncatedMidTensor, // cut inside the data of a tensor in the middle
        truncatedInLastTensor, // cut inside the data of the last tensor
        implausibleDimensions, // a zero state size
        noTensors, // header, filters and vocabulary only
        foreignMelFilters, // filters over 2,000 frequency bins, not whisper's 201
    };
    static QString writeDamagedModel(const QString &path, Damage damage);
};
