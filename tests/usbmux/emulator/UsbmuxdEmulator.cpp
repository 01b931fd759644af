#include "UsbmuxdEmulator.h"

#include "EmulatedLockdown.h"
#include "MuxPacket.h"
#include "PlistString.h"
#include "SimServices.h"
#include "TlsServicePump.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

namespace {
constexpr uint16_t lockdownPort = 62078;

// Result numbers of the usbmuxd protocol.
enum MuxResult : uint32_t
{
    ResultOk = 0,
    ResultBadCommand = 1,
    ResultBadDevice = 2,
    ResultConnectionRefused = 3
};

uint64_t numberItem(plist_t dict, const char* key)
{
    plist_t node = plist_dict_get_item(dict, key);
    uint64_t value = 0;
    if (node && plist_get_node_type(node) == PLIST_UINT)
        plist_get_uint_val(node, &value);
    return value;
}

bool sendResult(int fd, uint32_t tag, uint32_t number)
{
    plist_t reply = plist_new_dict();
    plist_dict_set_item(reply, "MessageType", plist_new_string("Result"));
    plist_dict_set_item(reply, "Number", plist_new_uint(number));
    const bool ok = writeMuxPacket(fd, tag, reply);
    plist_free(reply);
    return ok;
}

bool sendReply(int fd, uint32_t tag, plist_t reply)
{
    const bool ok = writeMuxPacket(fd, tag, reply);
    plist_free(reply);
    return ok;
}
} // namespace

UsbmuxdEmulator::UsbmuxdEmulator(std::string socketPath, std::string simRoot, EmulatorState& state)
    : m_socketPath(std::move(socketPath)), m_simRoot(std::move(simRoot)), m_state(state)
{
}

bool UsbmuxdEmulator::bind()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof address.sun_path)
        return false;
    std::strcpy(address.sun_path, m_socketPath.c_str());
    unlink(m_socketPath.c_str());
    m_listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return m_listenFd >= 0 &&
           ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
           listen(m_listenFd, 64) == 0;
}

void UsbmuxdEmulator::run()
{
    auto lastScan = std::chrono::steady_clock::time_point();
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastScan >= std::chrono::milliseconds(100)) {
            scan();
            lastScan = now;
        }
        pollfd p{m_listenFd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const int client = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                std::thread(&UsbmuxdEmulator::serveClient, this, client).detach();
        }
    }
}

void UsbmuxdEmulator::scan()
{
    const long long nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    std::set<std::string> present;
    if (DIR* dir = opendir(m_simRoot.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            // Hidden folders are phones being built or taken away; a phone that restarts is away
            // for a moment.
            const SimDevice device{m_simRoot + "/" + name, name};
            if (!name.empty() && name[0] != '.' && device.exists() &&
                device.number("RebootingUntilMs", 0) <= nowMs)
                present.insert(name);
        }
        closedir(dir);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_phones.begin(); it != m_phones.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        plist_t event = plist_new_dict();
        plist_dict_set_item(event, "MessageType", plist_new_string("Detached"));
        plist_dict_set_item(event, "DeviceID", plist_new_uint(it->second.id));
        for (int fd : m_listeners)
            writeMuxPacket(fd, 0, event);
        plist_free(event);
        // Unplugging ends every connection to the phone, as the daemon's USB side does.
        const auto open = m_open.equal_range(it->second.id);
        for (auto c = open.first; c != open.second; ++c)
            shutdown(c->second, SHUT_RDWR);
        it = m_phones.erase(it);
    }
    for (const std::string& name : present) {
        if (m_phones.count(name))
            continue;
        Phone phone;
        phone.id = m_nextId++;
        phone.device = SimDevice{m_simRoot + "/" + name, name};
        phone.udid = phone.device.rootString("UniqueDeviceID");
        if (phone.udid.empty())
            phone.udid = name;
        phone.network = phone.device.flag("Network");
        plist_t event = attachedMessage(phone);
        for (int fd : m_listeners)
            writeMuxPacket(fd, 0, event);
        plist_free(event);
        m_phones.emplace(name, phone);
    }
}

plist_t UsbmuxdEmulator::attachedMessage(const Phone& phone)
{
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "DeviceID", plist_new_uint(phone.id));
    plist_dict_set_item(properties, "SerialNumber", plist_new_string(phone.udid.c_str()));
    plist_dict_set_item(properties, "ProductID", plist_new_uint(0x12a8));
    if (phone.network) {
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("Network"));
        // A BSD sockaddr_in for 192.0.2.1, as the daemon reports a phone on Wi-Fi.
        const char address[16] = {16, 2, 0, 0, char(192), 0, 2, 1};
        plist_dict_set_item(properties, "NetworkAddress", plist_new_data(address, sizeof address));
    } else {
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
        plist_dict_set_item(properties, "ConnectionSpeed", plist_new_uint(480000000));
        plist_dict_set_item(properties, "LocationID", plist_new_uint(0x14100000u + phone.id));
        plist_dict_set_item(properties, "USBSerialNumber", plist_new_string(phone.udid.c_str()));
    }
    plist_t message = plist_new_dict();
    plist_dict_set_item(message, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(message, "DeviceID", plist_new_uint(phone.id));
    plist_dict_set_item(message, "Properties", properties);
    return message;
}

bool UsbmuxdEmulator::findPhone(uint32_t id, Phone& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& entry : m_phones) {
        if (entry.second.id == id && entry.second.device.exists()) {
            out = entry.second;
            return true;
        }
    }
    return false;
}

void UsbmuxdEmulator::serveClient(int fd)
{
    MuxPacket packet;
    while (readMuxPacket(fd, packet)) {
        plist_t request = packet.message;
        const std::string type = plistDictString(request, "MessageType");
        if (type == "Listen") {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                sendResult(fd, packet.tag, ResultOk);
                for (const auto& entry : m_phones) {
                    plist_t event = attachedMessage(entry.second);
                    writeMuxPacket(fd, 0, event);
                    plist_free(event);
                }
                m_listeners.push_back(fd);
            }
            plist_free(request);
            // Events go out from the scanner until the client hangs up.
            char byte;
            while (recv(fd, &byte, 1, 0) > 0) {
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), fd), m_listeners.end());
            close(fd);
            return;
        }
        if (type == "Connect") {
            connect(fd, packet.tag, request); // the socket now belongs to the phone
            plist_free(request);
            return;
        }
        const std::string udid = plistDictString(request, "PairRecordID");
        bool ok = true;
        if (type == "ListDevices") {
            plist_t list = plist_new_array();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const auto& entry : m_phones)
                    plist_array_append_item(list, attachedMessage(entry.second));
            }
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "DeviceList", list);
            ok = sendReply(fd, packet.tag, reply);
        } else if (type == "ReadBUID") {
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "BUID", plist_new_string(m_state.buid().c_str()));
            ok = sendReply(fd, packet.tag, reply);
        } else if (type == "ReadPairRecord") {
            std::string data;
            if (m_state.readPairRecord(udid, data)) {
                plist_t reply = plist_new_dict();
                plist_dict_set_item(reply, "PairRecordData", plist_new_data(data.data(), data.size()));
                ok = sendReply(fd, packet.tag, reply);
            } else {
                ok = sendResult(fd, packet.tag, ResultBadDevice);
            }
        } else if (type == "SavePairRecord") {
            plist_t node = plist_dict_get_item(request, "PairRecordData");
            char* data = nullptr;
            uint64_t length = 0;
            if (node && plist_get_node_type(node) == PLIST_DATA)
                plist_get_data_val(node, &data, &length);
            const bool saved =
                data && !udid.empty() && m_state.savePairRecord(udid, std::string(data, length));
            std::free(data);
            ok = sendResult(fd, packet.tag, saved ? ResultOk : ResultBadCommand);
        } else if (type == "DeletePairRecord") {
            ok = sendResult(fd, packet.tag, m_state.deletePairRecord(udid) ? ResultOk : ResultBadDevice);
        } else {
            ok = sendResult(fd, packet.tag, ResultBadCommand);
        }
        plist_free(request);
        if (!ok)
            break;
    }
    close(fd);
}

void UsbmuxdEmulator::connect(int fd, uint32_t tag, plist_t request)
{
    Phone phone;
    if (!findPhone(uint32_t(numberItem(request, "DeviceID")), phone)) {
        sendResult(fd, tag, ResultBadDevice);
        close(fd);
        return;
    }
    // libusbmuxd sends the port in network byte order.
    const uint16_t port = ntohs(uint16_t(numberItem(request, "PortNumber")));
    EmulatorState::Service service;
    if (port != lockdownPort && !m_state.takeService(phone.udid, port, service)) {
        sendResult(fd, tag, ResultConnectionRefused);
        close(fd);
        return;
    }
    if (!sendResult(fd, tag, ResultOk)) {
        close(fd);
        return;
    }
    serveConnection(fd, phone, port, service);
}

void UsbmuxdEmulator::serveConnection(int fd, const Phone& phone, uint16_t port,
                                      const EmulatorState::Service& service)
{
    // The server side closes its own descriptor; this one stays registered until then, so an
    // unplug can shut the socket down without ever touching a reused descriptor number.
    const int own = dup(fd);
    if (own < 0) {
        close(fd);
        return;
    }
    std::multimap<uint32_t, int>::iterator entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool present = std::any_of(m_phones.begin(), m_phones.end(),
                                         [&phone](const auto& p) { return p.second.id == phone.id; });
        if (!present) // unplugged since the Connect was answered
            shutdown(fd, SHUT_RDWR);
        entry = m_open.emplace(phone.id, fd);
        m_state.noteOpenConnections(m_open.size());
    }
    if (port == lockdownPort) {
        serveLockdown(own, phone.device, phone.udid, m_state);
    } else if (const SimServiceHandler* handler = findSimService(service.name)) {
        auto serve = [&](int plain) {
            SimSocket socket(plain, phone.device);
            (*handler)(socket);
        };
        if (service.ssl)
            serveOverTls(own, m_state.tls(phone.device.majorVersion() >= 10), serve,
                         [&](const char* version) { m_state.noteTls(phone.udid, "service", version); });
        else
            serve(own);
    } else {
        close(own);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(entry);
    m_state.noteOpenConnections(m_open.size());
    close(fd);
}
