#pragma once

#include <sys/socket.h>

#include <cstddef>

// Whole reads and writes on a blocking stream socket; false when the peer went away first.
inline bool readExact(int fd, void* buffer, size_t n)
{
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = recv(fd, p, n, 0);
        if (got <= 0)
            return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

inline bool sendAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        p += sent;
        n -= size_t(sent);
    }
    return true;
}
