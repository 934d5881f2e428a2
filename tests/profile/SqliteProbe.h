#pragma once

#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Reads a database file through its own connection, as another program would.
// Each row comes back as its columns joined by '|'.
inline QStringList sqliteRows(const QString &path, const char *sql)
{
    QStringList rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                QStringList columns;
                for (int i = 0; i < sqlite3_column_count(statement); ++i)
                    columns.append(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i))));
                rows.append(columns.join(QLatin1Char('|')));
            }
        } else {
            rows.append(QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db)));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

// Runs statements on a separate read-write connection.
inline bool sqliteExec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK
              && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// Another program holding a database file's write lock until it lets go.
class SqliteWriteLock {
public:
    explicit SqliteWriteLock(const QString &path)
    {
        m_held = sqlite3_open(path.toUtf8().constData(), &m_db) == SQLITE_OK
                 && sqlite3_exec(m_db, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~SqliteWriteLock() { release(); }
    SqliteWriteLock(const SqliteWriteLock &) = delete;
    SqliteWriteLock &operator=(const SqliteWriteLock &) = delete;

    bool isHeld() const { return m_held; }
    void release()
    {
        if (m_held)
            sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr);
        m_held = false;
        sqlite3_close(m_db);
        m_db = nullptr;
    }

private:
    sqlite3 *m_db = nullptr;
    bool m_held = false;
};
