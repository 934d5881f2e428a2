#pragma once

#include <QString>

#include <optional>

// Where the application keeps its files.
class Paths {
public:
    virtual ~Paths() = default;

    // The shared application container, created on first use; none when it
    // cannot be created.
    virtual std::optional<QString> appGroupContainer() = 0;
    // Why the container cannot be had, for the log; empty when it can.
    virtual QString containerProblem() { return {}; }
    // The per-user application data directory.
    virtual QString applicationSupportDirectory() = 0;
    // The user's documents directory.
    virtual QString documentsDirectory() = 0;
};
