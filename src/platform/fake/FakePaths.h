#pragma once

#include "platform/Paths.h"

#include <QTemporaryDir>

// Every directory lives under one temporary root that is removed with it.
class FakePaths : public Paths {
public:
    FakePaths();

    std::optional<QString> appGroupContainer() override;
    QString containerProblem() override;
    QString applicationSupportDirectory() override;
    QString documentsDirectory() override;

    QString root() const { return m_root.path(); }
    // Simulates a machine on which the container cannot be had.
    void setContainerAvailable(bool available) { m_containerAvailable = available; }

private:
    QString ensured(const QString &relative) const;

    QTemporaryDir m_root;
    bool m_containerAvailable = true;
};
