#include "WhisperCppError.h"

namespace {
QString describe(WhisperCppError::Kind kind, std::int32_t code)
{
    switch (kind) {
    case WhisperCppError::Kind::inferenceFailed:
        return QStringLiteral("whisper.cpp inference failed with code %1.").arg(code);
    case WhisperCppError::Kind::contextInitFailed:
        return QStringLiteral("whisper.cpp failed to initialize the model context.");
    case WhisperCppError::Kind::notLoaded:
        return QStringLiteral("whisper.cpp model context is not loaded.");
    }
    return {};
}
} // namespace

WhisperCppError::WhisperCppError(Kind kind, std::int32_t code)
    : DescribedErrorOf(describe(kind, code))
    , m_kind(kind)
    , m_code(code)
{
}

WhisperCppError WhisperCppError::inferenceFailed(std::int32_t code)
{
    return WhisperCppError(Kind::inferenceFailed, code);
}

WhisperCppError WhisperCppError::contextInitFailed()
{
    return WhisperCppError(Kind::contextInitFailed, 0);
}

WhisperCppError WhisperCppError::notLoaded()
{
    return WhisperCppError(Kind::notLoaded, 0);
}
