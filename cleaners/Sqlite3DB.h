#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// A failure of SQLite; what() is SQLite's message in UTF-8.
class Sqlite3Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One statement text, UTF-8, without parameters.
class Sqlite3Sql
{
public:
    Sqlite3Sql(const char* text) : m_text(text) {}
    const char* text() const { return m_text; }

private:
    const char* m_text;
};

// A prepared statement, shared by the copies of a cursor and finalised with the last of them.
class Sqlite3Stmt
{
public:
    explicit Sqlite3Stmt(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~Sqlite3Stmt();
    Sqlite3Stmt(const Sqlite3Stmt&) = delete;
    Sqlite3Stmt& operator=(const Sqlite3Stmt&) = delete;
    sqlite3_stmt* handle() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt;
};

// The rows of a query, placed before the first row. Copies share one statement.
class Sqlite3Cursor
{
public:
    explicit Sqlite3Cursor(std::shared_ptr<Sqlite3Stmt> stmt);

    // Advances to the next row; false when no row is left.
    bool moveNext();
    QString getText(const QString& column) const;
    int getInt(const QString& column) const;
    // The number of result rows; may be called before the first moveNext.
    int count();

private:
    int columnIndex(const QString& column) const;

    std::shared_ptr<Sqlite3Stmt> m_stmt;
};

// A connection to one existing database file.
class Sqlite3DB
{
public:
    Sqlite3DB() = default;
    ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB&) = delete;
    Sqlite3DB& operator=(const Sqlite3DB&) = delete;

    // Opens an existing file; flags 2 opens it for reading and writing without creating it.
    void openThrow(const QString& path, int flags);
    // Opens an existing file for reading only, leaving nothing beside it (see SqliteFiles).
    void openForReadingThrow(const QString& path);
    Sqlite3Cursor queryThrow(Sqlite3Sql sql);
    // Runs a statement at once; with no transaction open each statement commits by itself.
    void executeThrow(Sqlite3Sql sql);
    void close();
    // Closes after the last write: a write-ahead log is written into the file first, and a
    // failure of that is thrown rather than lost.
    void closeThrow();
    sqlite3* handle() const { return m_db; }

private:
    [[noreturn]] void raise() const;

    sqlite3* m_db = nullptr;
    QString m_path;
};
