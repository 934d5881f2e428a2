#pragma once

#include "platform/Paths.h"

// The XDG base directories: the container is $XDG_DATA_HOME/tavrune.
class XdgPaths : public Paths {
public:
    std::optional<QString> appGroupContainer() override;
    QString containerProblem() override;
    QString applicationSupportDirectory() override;
    QString documentsDirectory() override;
};
