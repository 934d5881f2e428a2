#pragma once

#include <QString>

#include <chrono>
#include <functional>

struct sqlite3;

// The profile's SQLite connection: opening, pragmas, schema, transactions and
// closing. Not thread-aware: after construction only the store's queue uses it.
class ProfileDatabase {
public:
    // A statement that finds the file locked by another program waits at
    // most busyTimeout, then fails.
    ProfileDatabase(const QString &path, std::chrono::milliseconds busyTimeout);
    ~ProfileDatabase();
    ProfileDatabase(const ProfileDatabase &) = delete;
    ProfileDatabase &operator=(const ProfileDatabase &) = delete;

    // None when the file could not be opened or is not a database, and after close().
    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }
    // Why nothing can be saved, found when opening; empty when writes may land.
    const QString &writeProblem() const { return m_writeProblem; }
    // SQLite's message for the last failed call.
    QString lastError() const;

    // Runs body between BEGIN and COMMIT. The write lock is taken up front, so
    // a file held by another program costs one wait, not one per statement. A
    // failed COMMIT is rolled back so that the connection never stays inside a
    // transaction. Inside a transaction already, body simply joins it. Returns
    // why the work was not committed; empty when it was (or was joined).
    QString inTransaction(const std::function<void()> &body);

    void close();

private:
    void open(std::chrono::milliseconds busyTimeout);
    void applySchema();
    bool exec(const char *sql);

    QString m_path;
    QString m_writeProblem;
    sqlite3 *m_db = nullptr;
};
