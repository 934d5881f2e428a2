#pragma once

#include "support/FreeSpace.h"

// A filesystem whose figures the test sets; none: the system cannot tell.
class FakeFreeSpace : public FreeSpace {
public:
    explicit FakeFreeSpace(std::optional<Figures> figures = std::nullopt)
        : figures(std::move(figures))
    {
    }
    std::optional<Figures> figuresAt(const QString &) const override { return figures; }

    std::optional<Figures> figures;
};
