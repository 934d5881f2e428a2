#pragma once

#include "support/DescribedError.h"

// A failure with a description of the test's choosing, for fakes to throw.
class TestError : public DescribedErrorOf<TestError> {
public:
    explicit TestError(const QString &description)
        : DescribedErrorOf(description)
    {
    }
};
