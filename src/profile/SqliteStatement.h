#pragma once

#include <QString>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized when it goes out of scope. Values are
// always bound, never spliced into the SQL text. Indexes: parameters from 1,
// columns from 0.
class SqliteStatement {
public:
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // False when there is no connection or the SQL did not prepare.
    bool isValid() const { return m_statement != nullptr; }

    void bind(int index, const QString &value);
    void bind(int index, const std::optional<QString> &value);
    void bind(int index, double value);
    void bind(int index, int value);
    void bind(int index, qint64 value);

    // Returns true while a row is available.
    bool step();
    // Binds the values to parameters 1, 2, ... in order.
    template <typename... Values>
    void bindAll(const Values &...values)
    {
        int index = 1;
        (bind(index++, values), ...);
    }

    // Steps a write; true when it ran to the end.
    bool execute();
    // Steps a write; true when it added a row (an upsert that updated gives false).
    bool stepInsertsRow();
    // The last step gave an error rather than a row or the end.
    bool lastStepFailed() const;
    // Ready for the next row of a batch; bindings are replaced by the next binds.
    void reset();

    QString text(int column) const;
    std::optional<QString> optionalText(int column) const;
    double real(int column) const;
    int integer(int column) const;
    qint64 integer64(int column) const;

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_lastResult = 0;
};
