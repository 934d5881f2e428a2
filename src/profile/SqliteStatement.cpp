#include "SqliteStatement.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3 *db, const char *sql)
{
    if (db && sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::bind(int index, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::bind(int index, const std::optional<QString> &value)
{
    if (value)
        bind(index, *value);
    else
        sqlite3_bind_null(m_statement, index);
}

void SqliteStatement::bind(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
}

void SqliteStatement::bind(int index, int value)
{
    sqlite3_bind_int(m_statement, index, value);
}

void SqliteStatement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

bool SqliteStatement::step()
{
    m_lastResult = sqlite3_step(m_statement);
    return m_lastResult == SQLITE_ROW;
}

bool SqliteStatement::execute()
{
    step();
    return m_lastResult == SQLITE_DONE;
}

bool SqliteStatement::stepInsertsRow()
{
    sqlite3 *db = sqlite3_db_handle(m_statement);
    // Rowids start at 1, so a 0 left in place means nothing was inserted.
    sqlite3_set_last_insert_rowid(db, 0);
    step();
    return m_lastResult == SQLITE_DONE && sqlite3_last_insert_rowid(db) != 0;
}

bool SqliteStatement::lastStepFailed() const
{
    return m_lastResult != SQLITE_ROW && m_lastResult != SQLITE_DONE;
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
}

QString SqliteStatement::text(int column) const
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
}

std::optional<QString> SqliteStatement::optionalText(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    return text(column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

int SqliteStatement::integer(int column) const
{
    return sqlite3_column_int(m_statement, column);
}

qint64 SqliteStatement::integer64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}
