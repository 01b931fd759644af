#include "SimServices.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace {
// Service threads may still run while the process exits: never destroyed.
std::mutex& registryMutex = *new std::mutex;
std::map<std::string, SimServiceHandler>& registry()
{
    static auto* services = new std::map<std::string, SimServiceHandler>;
    return *services;
}
} // namespace

SimSocket::SimSocket(int fd, const SimDevice& device)
    : m_fd(fd), m_device(device), m_budget(device.number("ReplyStopsAfter", -1)),
      m_delayMs(device.number("ReplyDelayMs", 0))
{
}

SimSocket::~SimSocket()
{
    close(m_fd);
}

bool SimSocket::readExact(void* buffer, size_t n)
{
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        const long got =
            m_transport.read ? m_transport.read(p + done, n - done) : recv(m_fd, p + done, n - done, 0);
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

bool SimSocket::write(const void* data, size_t n)
{
    if (m_delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
    bool complete = true;
    if (m_budget >= 0 && static_cast<long long>(n) > m_budget) {
        n = size_t(m_budget);
        complete = false;
    }
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
        const long sent = m_transport.write ? m_transport.write(p + done, n - done)
                                            : send(m_fd, p + done, n - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        done += size_t(sent);
    }
    if (m_budget >= 0)
        m_budget -= static_cast<long long>(n);
    if (!complete)
        shutdown(m_fd, SHUT_RDWR); // the reply stops half-way
    return complete;
}

plist_t SimSocket::readMessage()
{
    unsigned char header[4];
    if (!readExact(header, 4))
        return nullptr;
    const uint32_t length =
        uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
    if (length == 0 || length > (16u << 20))
        return nullptr;
    std::string body(length, '\0');
    if (!readExact(&body[0], length))
        return nullptr;
    plist_t message = nullptr;
    plist_from_memory(body.data(), length, &message);
    return message;
}

bool SimSocket::writeMessage(plist_t message, bool binary)
{
    char* data = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(message, &data, &length);
    else
        plist_to_xml(message, &data, &length);
    if (!data)
        return false;
    std::string frame(4 + size_t(length), '\0');
    frame[0] = char(length >> 24);
    frame[1] = char(length >> 16);
    frame[2] = char(length >> 8);
    frame[3] = char(length);
    frame.replace(4, length, data, length);
    std::free(data);
    return write(frame.data(), frame.size());
}

void registerSimService(const std::string& name, SimServiceHandler handler)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[name] = std::move(handler);
}

const SimServiceHandler* findSimService(const std::string& name)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : &it->second;
}

void registerBuiltinSimServices()
{
    registerAppSimServices();
    // Answers every message with the same message: lets tests see framing, delays and cut replies.
    registerSimService("com.vantelmoor.sim.echo", [](SimSocket& socket) {
        while (plist_t message = socket.readMessage()) {
            const bool ok = socket.writeMessage(message);
            plist_free(message);
            if (!ok)
                break;
        }
    });
}
