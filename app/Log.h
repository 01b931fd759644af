#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <QtGlobal>

#include <functional>

// Prunes the log folder to `keep` files (oldest names first) and installs logMessageHandler.
void installLogHandler(const QString& folder, int keep);

// Appends one line to the day's log file "log-yyyyMMdd.txt"; safe to call from any thread.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Whether debug lines are also written to standard output (they are by default).
void setLogEchoesDebug(bool echo);

// One log line, "(W hh:mm:ss) message\n" and the like.
QByteArray formatLogLine(QtMsgType type, const QTime& time, const QString& message);

// Closes the open log file so that the next message opens it again (tests start a "new run").
void closeLogFileForTests();

// The clock that names the day's file and stamps each line; tests set their own, and an empty
// function goes back to the system clock.
void setLogClock(std::function<QDateTime()> clock);
