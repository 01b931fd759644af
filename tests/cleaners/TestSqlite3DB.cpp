#include "FixtureDatabases.h"
#include "Sqlite3DB.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

class TestSqlite3DB : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void openNeverCreates()
    {
        const QString path = m_dir.filePath(QStringLiteral("absent.db"));
        Sqlite3DB db;
        QVERIFY_THROWS_EXCEPTION(Sqlite3Error, db.openThrow(path, 2));
        QVERIFY(!QFile::exists(path));
    }

    void countBeforeFirstRowAndSharedCursors()
    {
        const QString path = m_dir.filePath(QStringLiteral("calls.db"));
        FixtureDatabases::createCallHistory(path, 3);
        Sqlite3DB db;
        db.openThrow(path, 2);
        Sqlite3Cursor cursor = db.queryThrow("select ROWID as id, address from call order by ROWID");
        QCOMPARE(cursor.count(), 3);
        QVERIFY(cursor.moveNext());
        QCOMPARE(cursor.getInt(QStringLiteral("id")), 1);
        Sqlite3Cursor copy = cursor; // shares the statement
        QVERIFY(copy.moveNext());
        QCOMPARE(cursor.getInt(QStringLiteral("id")), 2);
        QCOMPARE(cursor.getText(QStringLiteral("address")), QStringLiteral("+15550102"));
        db.close(); // the cursors outlive the connection safely
    }

    void statementsCommitAndVacuum()
    {
        const QString path = m_dir.filePath(QStringLiteral("calls2.db"));
        FixtureDatabases::createCallHistory(path, 4);
        Sqlite3DB db;
        db.openThrow(path, 2);
        db.executeThrow("delete from call");
        db.executeThrow("vacuum");
        db.close();
        QCOMPARE(FixtureDatabases::countRows(path, QStringLiteral("call")), 0);
    }

    void errorsCarrySqliteMessages()
    {
        const QString path = m_dir.filePath(QStringLiteral("calls3.db"));
        FixtureDatabases::createCallHistory(path, 1);
        Sqlite3DB db;
        db.openThrow(path, 2);
        try {
            db.executeThrow("delete from no_such_table");
            QFAIL("no error");
        } catch (const Sqlite3Error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("no such table: no_such_table"));
        }

        const QString garbage = m_dir.filePath(QStringLiteral("garbage.db"));
        QFile f(garbage);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        Sqlite3DB bad;
        bad.openThrow(garbage, 2);
        try {
            bad.queryThrow("select name from sqlite_master");
            QFAIL("no error");
        } catch (const Sqlite3Error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("file is not a database"));
        }
    }

    // The last write of a working copy that uses a log happens when the log goes into the file;
    // when that cannot happen the close says so instead of leaving the rows in a log nobody keeps.
    void closingAfterTheLastWriteReportsAFailedCheckpoint()
    {
        const QString path = m_dir.filePath(QStringLiteral("logged.db"));
        FixtureDatabases::createCallHistory(path, 4);
        FixtureDatabases::exec(path, QStringLiteral("PRAGMA journal_mode=WAL;"));
        Sqlite3DB db;
        db.openThrow(path, 2);
        db.executeThrow("delete from call");
        // Another reader keeps the log in use.
        sqlite3* reader = nullptr;
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &reader), SQLITE_OK);
        QCOMPARE(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM call;", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_busy_timeout(db.handle(), 50);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.closeThrow());
        sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(reader);

        // Without a reader in the way the file stands alone afterwards.
        Sqlite3DB again;
        again.openThrow(path, 2);
        again.executeThrow("delete from call");
        again.closeThrow();
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
        QCOMPARE(FixtureDatabases::countRows(path, QStringLiteral("call")), 0);
    }
};

QTEST_GUILESS_MAIN(TestSqlite3DB)
#include "TestSqlite3DB.moc"
