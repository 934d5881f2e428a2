#pragma once

#include <QString>

#include <optional>

// An exclusive flock(2) on an open file, held by a descriptor of its own so
// that it outlives the one it was taken through and follows the file through
// a rename. Never waits: a file another process holds is reported with who
// holds it. Released when this goes.
class ExclusiveFileLock {
public:
    ExclusiveFileLock() = default;
    ~ExclusiveFileLock() { release(); }
    ExclusiveFileLock(const ExclusiveFileLock &) = delete;
    ExclusiveFileLock &operator=(const ExclusiveFileLock &) = delete;

    // None when the lock is taken, or when the filesystem cannot lock at all;
    // otherwise who holds it ("tavrune, process 1234"), empty when unknown.
    std::optional<QString> take(int fd);
    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};
