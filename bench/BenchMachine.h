#pragma once

#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <cstdio>

// Figures only compare on the same kind of machine: each run says which one it was.
inline void printMachine()
{
    QByteArray cpu = "unknown processor";
    long memoryKiB = 0;
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = line.mid(line.indexOf(':') + 1).trimmed();
                break;
            }
        }
    }
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        const QByteArray first = meminfo.readLine();
        memoryKiB = first.mid(first.indexOf(':') + 1).trimmed().split(' ').value(0).toLong();
    }
#ifdef NDEBUG
    const char* build = "Release";
#else
    const char* build = "Debug (figures not comparable: build with the bench target)";
#endif
    std::printf("machine: %s, %d cores, %.1f GiB, %s, kernel %s; build %s\n\n", cpu.constData(),
                QThread::idealThreadCount(), double(memoryKiB) / 1048576,
                qPrintable(QSysInfo::prettyProductName()), qPrintable(QSysInfo::kernelVersion()), build);
}
