#include "Sqlite3DB.h"

#include "SqliteFiles.h"

#include <sqlite3.h>

Sqlite3Stmt::~Sqlite3Stmt()
{
    sqlite3_finalize(m_stmt);
}

Sqlite3Cursor::Sqlite3Cursor(std::shared_ptr<Sqlite3Stmt> stmt) : m_stmt(std::move(stmt)) {}

bool Sqlite3Cursor::moveNext()
{
    const int rc = sqlite3_step(m_stmt->handle());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throw Sqlite3Error(sqlite3_errmsg(sqlite3_db_handle(m_stmt->handle())));
}

int Sqlite3Cursor::columnIndex(const QString& column) const
{
    sqlite3_stmt* stmt = m_stmt->handle();
    const QByteArray name = column.toUtf8();
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        if (qstricmp(sqlite3_column_name(stmt, i), name.constData()) == 0)
            return i;
    }
    throw Sqlite3Error("no such column in the result: " + name.toStdString());
}

QString Sqlite3Cursor::getText(const QString& column) const
{
    sqlite3_stmt* stmt = m_stmt->handle();
    const int i = columnIndex(column);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, i));
}

int Sqlite3Cursor::getInt(const QString& column) const
{
    return sqlite3_column_int(m_stmt->handle(), columnIndex(column));
}

int Sqlite3Cursor::count()
{
    sqlite3_stmt* stmt = m_stmt->handle();
    sqlite3_reset(stmt);
    int rows = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        ++rows;
    const int resetRc = sqlite3_reset(stmt);
    if (rc != SQLITE_DONE || resetRc != SQLITE_OK)
        throw Sqlite3Error(sqlite3_errmsg(sqlite3_db_handle(stmt)));
    return rows;
}

Sqlite3DB::~Sqlite3DB()
{
    close();
}

void Sqlite3DB::raise() const
{
    throw Sqlite3Error(m_db ? sqlite3_errmsg(m_db) : "database is not open");
}

void Sqlite3DB::openThrow(const QString& path, int flags)
{
    close();
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        close();
        throw Sqlite3Error(message + ": " + path.toStdString());
    }
    // Another program holding the file briefly should not fail the run.
    sqlite3_busy_timeout(m_db, 5000);
    m_path = path;
}

void Sqlite3DB::openForReadingThrow(const QString& path)
{
    close();
    m_db = SqliteFiles::openForReading(path);
    m_path = path;
}

Sqlite3Cursor Sqlite3DB::queryThrow(Sqlite3Sql sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql.text(), -1, &stmt, nullptr) != SQLITE_OK)
        raise();
    return Sqlite3Cursor(std::make_shared<Sqlite3Stmt>(stmt));
}

void Sqlite3DB::executeThrow(Sqlite3Sql sql)
{
    if (!m_db || sqlite3_exec(m_db, sql.text(), nullptr, nullptr, nullptr) != SQLITE_OK)
        raise();
}

void Sqlite3DB::closeThrow()
{
    if (!m_db)
        return;
    sqlite3* db = m_db;
    m_db = nullptr;
    SqliteFiles::checkpointAndClose(db, m_path);
}

void Sqlite3DB::close()
{
    // close_v2 lets cursors that outlive the connection finalise later.
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}
