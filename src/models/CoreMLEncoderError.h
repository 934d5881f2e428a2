#pragma once

#include "support/DescribedError.h"

// Why an encoder archive could not be installed.
class CoreMLEncoderError : public DescribedErrorOf<CoreMLEncoderError> {
public:
    static CoreMLEncoderError httpError() { return {-1, QStringLiteral("HTTP error")}; }
    static CoreMLEncoderError unzipFailed() { return {-2, QStringLiteral("Unzip failed")}; }

    static QString domain() { return QStringLiteral("CoreMLEncoder"); }
    int code() const { return m_code; }

private:
    CoreMLEncoderError(int code, QString description)
        : DescribedErrorOf(std::move(description))
        , m_code(code)
    {
    }

    int m_code;
};
