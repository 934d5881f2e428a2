#pragma once

#include <QList>

// The shapes a Whisper model file may have before whisper.cpp is let near it.
// The library sizes its buffers from the header and indexes them by its
// contexts without a check: a text context too short for the prompt writes
// past its batch and ends the process mid-decode. Only the shapes of the
// published models are known to be safe, so they are held exactly, not to
// ranges. Layer counts alone may vary (distilled and turbo models keep 2 to 4
// text layers).
struct WhisperModelFamily {
    struct Width {
        int state;
        int heads;
    };

    QList<int> vocabularies;
    int audioContext = 0;
    int textContext = 0;
    QList<Width> widths;
    QList<int> melBands;
    int maxLayers = 0;

    // tiny, base, small, medium and large, English-only and multilingual,
    // large-v3 and turbo included.
    static WhisperModelFamily published()
    {
        return {
            .vocabularies = {51864, 51865, 51866},
            .audioContext = 1500,
            .textContext = 448,
            .widths = {{384, 6}, {512, 8}, {768, 12}, {1024, 16}, {1280, 20}},
            .melBands = {80, 128},
            .maxLayers = 32,
        };
    }
};
