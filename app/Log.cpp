#include "Log.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QMutex>

#include <cstdio>
#include <cstdlib>

namespace {
// One lock serialises every line so that lines from worker threads never interleave.
QMutex logMutex;
QString logFolder;
QFile* logFile = nullptr;
std::function<QDateTime()> logClock;

QDateTime now()
{
    return logClock ? logClock() : QDateTime::currentDateTime();
}

bool openLogFile()
{
    if (logFile && logFile->isOpen())
        return true;
    const QString name = QStringLiteral("log-%1.txt").arg(now().date().toString(QStringLiteral("yyyyMMdd")));
    QDir folder(logFolder);
    if (!folder.exists())
        QDir().mkpath(logFolder);
    if (!logFile)
        logFile = new QFile;
    logFile->setFileName(folder.filePath(name));
    return logFile->open(QIODevice::ReadWrite | QIODevice::Append);
}
} // namespace

QByteArray formatLogLine(QtMsgType type, const QTime& time, const QString& message)
{
    const QString clock = time.toString(QStringLiteral("hh:mm:ss"));
    QString templ;
    switch (type) {
    case QtDebugMsg:
        templ = QStringLiteral("(D %1) %2\n");
        break;
    case QtWarningMsg:
        templ = QStringLiteral("(W %1) %2\n");
        break;
    case QtCriticalMsg:
        templ = QStringLiteral("(C %1) %2\n");
        break;
    case QtFatalMsg:
        templ = QStringLiteral("(F %1) %2\n");
        break;
    default:
        templ = QStringLiteral("(%1) %2\n");
        break;
    }
    return templ.arg(clock, message).toUtf8();
}

// Off for the command line, whose standard output is its result.
static bool echoDebug = true;

void installLogHandler(const QString& folder, int keep)
{
    {
        QMutexLocker lock(&logMutex);
        logFolder = folder;
    }
    QDir dir(folder);
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    for (int i = 0; i < files.size() - keep; ++i)
        dir.remove(files.at(i));
    qInstallMessageHandler(logMessageHandler);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&logMutex);
    if (type == QtDebugMsg && echoDebug) {
        const QByteArray raw = message.toLocal8Bit();
        std::fwrite(raw.constData(), 1, size_t(raw.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (!logFolder.isEmpty() && openLogFile()) {
        logFile->write(formatLogLine(type, now().time(), message));
        logFile->flush();
    }
    if (type == QtFatalMsg)
        std::abort();
}

void setLogEchoesDebug(bool echo)
{
    QMutexLocker lock(&logMutex);
    echoDebug = echo;
}

void setLogClock(std::function<QDateTime()> clock)
{
    QMutexLocker lock(&logMutex);
    logClock = std::move(clock);
}

void closeLogFileForTests()
{
    QMutexLocker lock(&logMutex);
    if (logFile)
        logFile->close();
}
