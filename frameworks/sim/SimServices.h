#pragma once

#include "SimDevice.h"

#include <cstddef>
#include <functional>
#include <string>

// The device's end of a service socket. Replies honour the device's switches: "ReplyDelayMs"
// delays every reply, "ReplyStopsAfter" closes the socket once that many reply bytes are sent.
class SimSocket
{
public:
    SimSocket(int fd, const SimDevice& device);
    ~SimSocket();
    SimSocket(const SimSocket&) = delete;
    SimSocket& operator=(const SimSocket&) = delete;

    // Reads exactly n bytes; false when the peer closed first.
    bool readExact(void* buffer, size_t n);
    bool write(const void* data, size_t n);
    // One property-list message: 4-byte big-endian length and the body.
    plist_t readMessage();
    bool writeMessage(plist_t message, bool binary = false);
    int fd() const { return m_fd; }
    // While set, reads and writes go through these instead of the socket (a TLS session over it);
    // each returns the bytes moved, or 0 or less when the peer is gone.
    struct Transport
    {
        std::function<long(void*, size_t)> read;
        std::function<long(const void*, size_t)> write;
    };
    void setTransport(Transport transport) { m_transport = std::move(transport); }
    const SimDevice& device() const { return m_device; }

private:
    int m_fd;
    SimDevice m_device;
    long long m_budget;
    long long m_delayMs;
    Transport m_transport;
};

using SimServiceHandler = std::function<void(SimSocket&)>;

// Services known to the simulated devices, by lockdown service name.
void registerSimService(const std::string& name, SimServiceHandler handler);
const SimServiceHandler* findSimService(const std::string& name);
void registerBuiltinSimServices();
// Installation proxy, house arrest and AFC.
void registerAppSimServices();
