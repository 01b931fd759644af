#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <thread>
#include <unistd.h>

// Helpers shared by the fuzz targets.
inline void writeFuzzInput(const QString& path, const uint8_t* data, size_t size)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char*>(data), qint64(size));
}

// Writes the bytes into one end of a socket pair from a thread and closes it, as a peer that says
// this much and then goes away.
inline void feedAndClose(int fd, const uint8_t* data, size_t size)
{
    const QByteArray copy(reinterpret_cast<const char*>(data), qsizetype(size));
    std::thread([fd, copy] {
        qsizetype done = 0;
        while (done < copy.size()) {
            const ssize_t n = ::write(fd, copy.constData() + done, size_t(copy.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
    }).detach();
}
