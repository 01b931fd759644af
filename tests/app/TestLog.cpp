#include "Log.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <vector>

class TestLog : public QObject
{
    Q_OBJECT

private:
    static void touch(const QString& path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // The log's clock stands still at this moment, so no test depends on the time it runs at.
    static QDateTime fixedNow() { return QDateTime(QDate(2026, 3, 5), QTime(14, 3, 7)); }
    static QString todaysLog(const QString& folder)
    {
        return QDir(folder).filePath(QStringLiteral("log-20260305.txt"));
    }
    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init() { setLogClock(fixedNow); }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        closeLogFileForTests();
        setLogClock({});
    }

    void pruning_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("kept");
        QStringList twelve;
        for (int day = 1; day <= 12; ++day)
            twelve << QStringLiteral("log-202601%1.txt").arg(day, 2, 10, QLatin1Char('0'));
        QTest::newRow("twelve days keep the newest ten") << twelve << twelve.mid(2);
        QTest::newRow("ten stay ten") << twelve.mid(0, 10) << twelve.mid(0, 10);
        QStringList withForeign = twelve.mid(0, 10);
        withForeign.prepend(QStringLiteral("crash.dmp"));
        QTest::newRow("a foreign file counts and sorts first") << withForeign << twelve.mid(0, 10);
    }

    void pruning()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, kept);
        QTemporaryDir dir;
        for (const QString& name : names)
            touch(dir.filePath(name));
        installLogHandler(dir.path(), 10);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), kept);
    }

    void lineTemplates()
    {
        const QTime t(14, 3, 7);
        QCOMPARE(formatLogLine(QtWarningMsg, t, QStringLiteral("low space")),
                 QByteArray("(W 14:03:07) low space\n"));
        QCOMPARE(formatLogLine(QtDebugMsg, t, QStringLiteral("x")), QByteArray("(D 14:03:07) x\n"));
        QCOMPARE(formatLogLine(QtCriticalMsg, t, QStringLiteral("x")), QByteArray("(C 14:03:07) x\n"));
        QCOMPARE(formatLogLine(QtFatalMsg, t, QStringLiteral("x")), QByteArray("(F 14:03:07) x\n"));
        QCOMPARE(formatLogLine(QtInfoMsg, t, QStringLiteral("\u00e9")),
                 QStringLiteral("(14:03:07) \u00e9\n").toUtf8());
    }

    void messagesGoToTheDaysFileAndRunsAppend()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("qlogs"));
        installLogHandler(folder, 10);
        qWarning("first run");
        closeLogFileForTests(); // a second run on the same day opens the same file again
        qDebug("second run");
        const QList<QByteArray> lines = readAll(todaysLog(folder)).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith("(W ") && lines.at(0).endsWith(") first run"));
        QVERIFY(lines.at(1).startsWith("(D ") && lines.at(1).endsWith(") second run"));
    }

    // A run that goes on past midnight keeps its file; the next run writes the new day's.
    void aRunAcrossMidnight()
    {
        QTemporaryDir dir;
        QDateTime clock(QDate(2026, 3, 5), QTime(23, 59, 59));
        setLogClock([&clock] { return clock; });
        installLogHandler(dir.path(), 10);
        qWarning("before midnight");
        clock = clock.addSecs(2);
        qWarning("after midnight");
        closeLogFileForTests();
        qWarning("next run");
        QCOMPARE(readAll(dir.filePath(QStringLiteral("log-20260305.txt"))),
                 QByteArray("(W 23:59:59) before midnight\n(W 00:00:01) after midnight\n"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("log-20260306.txt"))),
                 QByteArray("(W 00:00:01) next run\n"));
    }

    void concurrentThreadsWriteWholeLines()
    {
        QTemporaryDir dir;
        installLogHandler(dir.path(), 10);
        const int threads = 6;
        const int perThread = 300;
        std::vector<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers.push_back(QThread::create([t]() {
                for (int i = 0; i < perThread; ++i)
                    qWarning("thread %d line %d %s", t, i, "abcdefghijklmnopqrstuvwxyz0123456789");
            }));
            workers.back()->start();
        }
        for (QThread* w : workers) {
            w->wait();
            delete w;
        }
        const QList<QByteArray> lines = readAll(todaysLog(dir.path())).split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        const QRegularExpression whole(QStringLiteral(
            "^\\(W \\d\\d:\\d\\d:\\d\\d\\) thread \\d line \\d+ abcdefghijklmnopqrstuvwxyz0123456789$"));
        for (int i = 0; i < threads * perThread; ++i)
            QVERIFY2(whole.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
    }

    void folderThatIsAFileGoesQuiet()
    {
        QTemporaryDir dir;
        const QString notAFolder = dir.filePath(QStringLiteral("qlogs"));
        touch(notAFolder);
        installLogHandler(notAFolder, 10);
        qWarning("lost quietly");
        qWarning("and again");
        QVERIFY(QFileInfo(notAFolder).isFile());
        QCOMPARE(QFileInfo(notAFolder).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "TestLog.moc"
