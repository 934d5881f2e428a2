#pragma once

#include "platform/Workspace.h"

// A desktop of listed applications; activating one puts it in front.
class FakeWorkspace : public Workspace {
public:
    std::optional<RunningApplication> frontmost;
    QList<RunningApplication> running;
    QList<RunningApplication> activated;

    std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
    QList<RunningApplication> runningApplications() override { return running; }
    bool activate(const RunningApplication &application) override
    {
        activated << application;
        frontmost = application;
        return true;
    }
};
