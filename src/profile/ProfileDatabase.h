#pragma once

#include <QString>

#include <chrono>
#include <functional>

struct sqlite3;

// The profile's SQLite connection: opening, pragmas, schema, transactions and
// closing. Not thread-aware: after construction only the store's queue uses it.
class ProfileDatabase {
public:
    explicit ProfileDatabase(const QString &path,
                             std::chrono::milliseconds busyTimeout = std::chrono::seconds(5));
    ~ProfileDatabase();
    ProfileDatabase(const ProfileDatabase &) = delete;
    ProfileDatabase &operator=(const ProfileDatabase &) = delete;

    // None when the file could not be opened or is not a database, and after close().
    sqlite3 *handle() const { return m_db; }
    const QString &path() const { return m_path; }

    // Runs body between BEGIN and COMMIT. A failed COMMIT is rolled back so
    // that the connection never stays inside a transaction. Returns whether
    // the work was committed.
    bool inTransaction(const std::function<void()> &body);

    void close();

private:
    void open(std::chrono::milliseconds busyTimeout);
    void applySchema();
    bool exec(const char *sql);
    QString lastError() const;

    QString m_path;
    sqlite3 *m_db = nullptr;
};
