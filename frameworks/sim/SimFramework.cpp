// The mobile device framework over simulated devices: each device is a folder under
// SPACEWELL_SIM_ROOT (see SimDevice.h). Devices appear and disappear as their folders do.
#include "MobileDevice.h"
#include "PlistString.h"
#include "SimServices.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

struct DeviceState
{
    SimDevice device;
    std::mutex mutex;
    std::map<std::thread::id, bool> sessions; // connected threads, true while a session is open
    long long connects = 0;
};

// The watcher thread outlives static destruction at exit, so what it touches is never destroyed.
std::mutex& registryMutex = *new std::mutex;
std::map<std::string, AMDeviceRecord*>& records =
    *new std::map<std::string, AMDeviceRecord*>; // by folder name
// Handles stay valid after a removal (the program compares them); records are never freed.
std::vector<AMDeviceRecord*>& retired = *new std::vector<AMDeviceRecord*>;
AMDeviceNotificationCallback subscriber = nullptr;
void* subscriberContext = nullptr;
std::atomic<bool> watching{false};

std::string simRoot()
{
    const char* root = std::getenv("SPACEWELL_SIM_ROOT");
    return root ? root : "";
}

AMDeviceRecord* recordFor(const std::string& name, const std::string& folder)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = records.find(name);
    if (it != records.end())
        return it->second;
    auto* record = new AMDeviceRecord();
    auto* state = new DeviceState();
    state->device.folder = folder;
    state->device.name = name;
    const std::string udid = state->device.rootString("UniqueDeviceID");
    std::strncpy(record->udid, (udid.empty() ? name : udid).c_str(), sizeof(record->udid) - 1);
    record->isUsb = state->device.flag("Network") ? 0 : 1;
    record->framework = state;
    records.emplace(name, record);
    return record;
}

DeviceState* stateOf(void* device)
{
    return device ? static_cast<DeviceState*>(static_cast<AMDeviceRecord*>(device)->framework) : nullptr;
}

std::set<std::string> presentDevices(const std::string& root)
{
    std::set<std::string> names;
    DIR* dir = opendir(root.c_str());
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        // Hidden folders are devices being built or taken away, never a device.
        if (name.empty() || name[0] == '.')
            continue;
        SimDevice probe{root + "/" + name, name};
        if (probe.exists())
            names.insert(name);
    }
    closedir(dir);
    return names;
}

void notify(AMDeviceRecord* record, uint32_t message)
{
    AMDeviceNotificationCallback callback;
    void* context;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        callback = subscriber;
        context = subscriberContext;
    }
    if (callback) {
        AMDeviceNotificationInfo info{record, message};
        callback(&info, context);
    }
}

// Polls the root folder: a device folder with values.plist is a connected device.
void watch()
{
    std::set<std::string> known;
    for (;;) {
        const std::string root = simRoot();
        const std::set<std::string> now = root.empty() ? std::set<std::string>() : presentDevices(root);
        for (const std::string& name : now) {
            if (!known.count(name)) {
                AMDeviceRecord* record = recordFor(name, root + "/" + name);
                // A folder that comes back is a new arrival with a fresh record.
                if (!stateOf(record)->device.exists())
                    continue;
                notify(record, AMDeviceMessageConnected);
            }
        }
        for (const std::string& name : known) {
            if (!now.count(name)) {
                AMDeviceRecord* record;
                {
                    std::lock_guard<std::mutex> lock(registryMutex);
                    record = records[name];
                    records.erase(name);
                    retired.push_back(record);
                }
                if (record)
                    notify(record, AMDeviceMessageDisconnected);
            }
        }
        known = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
}

// The calling thread's connection state; false when it has not connected.
bool connected(DeviceState* state, bool* session = nullptr)
{
    auto it = state->sessions.find(std::this_thread::get_id());
    if (it == state->sessions.end())
        return false;
    if (session)
        *session = it->second;
    return true;
}

} // namespace

extern "C" {

int AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t, void* context,
                                  void** subscription)
{
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        subscriber = callback;
        subscriberContext = context;
    }
    if (subscription)
        *subscription = nullptr;
    registerBuiltinSimServices();
    if (!watching.exchange(true))
        std::thread(watch).detach();
    return 0;
}

int AMDeviceConnect(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state || !state->device.exists())
        return AMDeviceErrorMux;
    if (const long long error = state->device.number("ConnectError", 0))
        return int(-error);
    std::lock_guard<std::mutex> lock(state->mutex);
    // "ConnectFailuresAfter": the device goes away after that many connections.
    const long long limit = state->device.number("ConnectFailuresAfter", -1);
    if (limit >= 0 && state->connects >= limit)
        return AMDeviceErrorMux;
    ++state->connects;
    state->sessions[std::this_thread::get_id()] = false;
    return 0;
}

int AMDeviceIsPaired(void* device)
{
    DeviceState* state = stateOf(device);
    return state && state->device.flag("Paired", true) ? 1 : 0;
}

int AMDevicePair(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!connected(state))
            return AMDeviceErrorMux;
    }
    const SimDevice& d = state->device;
    if (d.flag("PasscodeLocked"))
        return AMDeviceErrorPasswordProtected;
    if (d.flag("UserDenied"))
        return AMDeviceErrorUserDeniedPairing;
    if (!d.flag("TrustTapped", true))
        return AMDeviceErrorPairingDialogPending;
    d.setFlag("Paired", true);
    return 0;
}

int AMDeviceValidatePairing(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!connected(state))
        return AMDeviceErrorMux;
    return state->device.flag("Paired", true) ? 0 : AMDeviceErrorInvalidHostId;
}

int AMDeviceStartSession(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!connected(state))
        return AMDeviceErrorMux;
    if (const long long error = state->device.number("SessionError", 0))
        return int(-error);
    if (!state->device.flag("Paired", true))
        return AMDeviceErrorInvalidHostId;
    state->sessions[std::this_thread::get_id()] = true;
    return 0;
}

int AMDeviceStopSession(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    bool session = false;
    if (!connected(state, &session) || !session)
        return AMDeviceErrorNoRunningSession;
    state->sessions[std::this_thread::get_id()] = false;
    return 0;
}

int AMDeviceDisconnect(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    state->sessions.erase(std::this_thread::get_id());
    return 0;
}

plist_t AMDeviceCopyValue(void* device, plist_t domain, plist_t key)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!connected(state))
            return nullptr;
    }
    return state->device.copyValue(plistString(domain), plistString(key));
}

int AMDeviceStartService(void* device, plist_t serviceName, int* socketOut, void*)
{
    DeviceState* state = stateOf(device);
    if (!state || !socketOut)
        return AMDeviceErrorMux;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        bool session = false;
        if (!connected(state, &session))
            return AMDeviceErrorMux;
        if (!session)
            return AMDeviceErrorSessionInactive;
    }
    const std::string name = plistString(serviceName);
    for (const std::string& refused : state->device.strings("RefusedServices")) {
        if (refused == name)
            return AMDeviceErrorServiceProhibited;
    }
    const SimServiceHandler* handler = findSimService(name);
    if (!handler)
        return AMDeviceErrorInvalidService;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return AMDeviceErrorUnknown;
    SimDevice simDevice = state->device;
    SimServiceHandler serve = *handler;
    std::thread([serve, simDevice, fd = ends[1]]() {
        SimSocket socket(fd, simDevice);
        serve(socket);
    }).detach();
    *socketOut = ends[0];
    return 0;
}

} // extern "C"
