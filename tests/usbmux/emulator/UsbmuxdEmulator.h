#pragma once

#include "EmulatorState.h"
#include "SimDevice.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The usbmuxd daemon over the simulated phones of a root folder: every folder with values.plist
// is a phone plugged in (switch "Network": reached over Wi-Fi instead). It speaks the property
// list protocol (version 1) of libusbmuxd 2.0 on a UNIX socket: Listen, ListDevices, Connect,
// ReadBUID and Read/Save/DeletePairRecord. Port 62078 of a phone is lockdown; the ports that
// lockdown hands out reach the simulated phone's services.
class UsbmuxdEmulator
{
public:
    UsbmuxdEmulator(std::string socketPath, std::string simRoot, EmulatorState& state);
    // Binds the socket; false (with errno) when it cannot.
    bool bind();
    // Serves until the process is stopped.
    [[noreturn]] void run();

private:
    struct Phone
    {
        uint32_t id = 0;
        std::string udid;
        SimDevice device;
        bool network = false;
    };

    void scan();
    void serveClient(int fd);
    void connect(int fd, uint32_t tag, plist_t request);
    // The properties of a phone, as Attached events and device lists carry them.
    static plist_t attachedMessage(const Phone& phone);
    bool findPhone(uint32_t id, Phone& out);
    void serveConnection(int fd, const Phone& phone, uint16_t port, const EmulatorState::Service& service);

    std::string m_socketPath;
    std::string m_simRoot;
    EmulatorState& m_state;
    int m_listenFd = -1;
    std::mutex m_mutex;                    // guards the phones and the listeners (and writes to them)
    std::map<std::string, Phone> m_phones; // by folder name
    std::vector<int> m_listeners;
    std::multimap<uint32_t, int> m_open; // connections to each phone, cut when it goes away
    uint32_t m_nextId = 1;
};
