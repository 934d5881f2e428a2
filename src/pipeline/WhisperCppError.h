#pragma once

#include "support/DescribedError.h"

#include <cstdint>

// Failures of the local whisper.cpp engine.
class WhisperCppError : public DescribedErrorOf<WhisperCppError> {
public:
    enum class Kind {
        inferenceFailed,
        contextInitFailed,
        notLoaded,
    };

    static WhisperCppError inferenceFailed(std::int32_t code);
    static WhisperCppError contextInitFailed();
    static WhisperCppError notLoaded();

    Kind kind() const { return m_kind; }
    // The library's return code; meaningful for inferenceFailed only.
    std::int32_t code() const { return m_code; }

private:
    WhisperCppError(Kind kind, std::int32_t code);

    Kind m_kind;
    std::int32_t m_code;
};
