// The mobile device framework for real devices: libimobiledevice and libusbmuxd through the
// usbmuxd daemon. Every request of the program is connect, (pair,) validate, session, work,
// disconnect; each calling thread gets its own lockdown connection so that requests from the
// user-interface thread and a worker never share one.
#include "MobileDevice.h"
#include "PlistString.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <usbmuxd.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

const char label[] = "spacewell";

using DeviceHandle = std::shared_ptr<idevice_private>;

struct Connection
{
    DeviceHandle device;
    lockdownd_client_t lockdown = nullptr;
    char* sessionId = nullptr;
};

// libimobiledevice picks a session's TLS versions from the phone's system version, which it
// learns only in its own handshake (lockdownd_client_new_with_handshake); until then it holds
// every phone to TLS 1.0, which phones since iOS 10 refuse. So each arrival of a phone gets one
// device handle, shared by the threads' connections, and once the phone is paired one handshake
// on it teaches it the version; the program's own connect, pair, validate and session order
// runs unchanged on top.
struct DeviceState
{
    std::string udid;
    std::mutex mutex;
    std::map<std::thread::id, Connection> connections;
    std::atomic<unsigned> arrivals{0}; // bumped by every arrival and removal

    std::mutex handleMutex;
    DeviceHandle handle;
    unsigned handleArrival = 0;
    bool versionLearned = false;
};

// libusbmuxd's thread may still report events while the process exits: never destroyed.
std::mutex& registryMutex = *new std::mutex;
std::map<std::string, AMDeviceRecord*>& records =
    *new std::map<std::string, AMDeviceRecord*>; // by udid and kind
AMDeviceNotificationCallback subscriber = nullptr;
void* subscriberContext = nullptr;

AMDeviceRecord* recordFor(const char* udid, bool usb)
{
    const std::string key = std::string(udid) + (usb ? "#usb" : "#net");
    std::lock_guard<std::mutex> lock(registryMutex);
    auto it = records.find(key);
    if (it != records.end())
        return it->second;
    auto* record = new AMDeviceRecord();
    std::strncpy(record->udid, udid, sizeof(record->udid) - 1);
    record->isUsb = usb ? 1 : 0;
    auto* state = new DeviceState();
    state->udid = udid;
    record->framework = state;
    records.emplace(key, record);
    return record;
}

DeviceState* stateOf(void* device)
{
    return device ? static_cast<DeviceState*>(static_cast<AMDeviceRecord*>(device)->framework) : nullptr;
}

// Runs on libusbmuxd's thread with its lock held: only hand the event on.
void onEvent(const idevice_event_t* event, void*)
{
    AMDeviceNotificationCallback callback;
    void* context;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        callback = subscriber;
        context = subscriberContext;
    }
    if (!event || !event->udid || !callback)
        return;
    uint32_t message;
    if (event->event == IDEVICE_DEVICE_ADD)
        message = AMDeviceMessageConnected;
    else if (event->event == IDEVICE_DEVICE_REMOVE)
        message = AMDeviceMessageDisconnected;
    else
        return;
    AMDeviceRecord* record = recordFor(event->udid, event->conn_type == CONNECTION_USBMUXD);
    static_cast<DeviceState*>(record->framework)->arrivals.fetch_add(1);
    AMDeviceNotificationInfo info{record, message};
    callback(&info, context);
}

void closeConnection(Connection& c)
{
    if (c.lockdown) {
        if (c.sessionId)
            lockdownd_stop_session(c.lockdown, c.sessionId);
        lockdownd_client_free(c.lockdown);
    }
    std::free(c.sessionId);
    c = Connection();
}

bool isPaired(const std::string& udid)
{
    char* data = nullptr;
    uint32_t size = 0;
    const bool paired = usbmuxd_read_pair_record(udid.c_str(), &data, &size) == 0 && data;
    std::free(data);
    return paired;
}

// The handle of the phone's current arrival, made on first use; null when usbmuxd does not list
// the phone.
DeviceHandle deviceHandle(DeviceState* state)
{
    std::lock_guard<std::mutex> lock(state->handleMutex);
    const unsigned arrival = state->arrivals.load();
    if (!state->handle || state->handleArrival != arrival) {
        idevice_t device = nullptr;
        if (idevice_new_with_options(&device, state->udid.c_str(), IDEVICE_LOOKUP_USBMUX) !=
            IDEVICE_E_SUCCESS)
            return nullptr;
        state->handle = DeviceHandle(device, idevice_free);
        state->handleArrival = arrival;
        state->versionLearned = false;
    }
    return state->handle;
}

// One handshake on a paired phone's handle, so that its sessions get the TLS versions the phone
// speaks. It starts and ends a session of its own and never pairs (the program asks for trust
// itself, in its own order).
void learnVersion(DeviceState* state, const DeviceHandle& handle)
{
    std::lock_guard<std::mutex> lock(state->handleMutex);
    if (state->handle != handle || state->versionLearned || !isPaired(state->udid))
        return;
    lockdownd_client_t probe = nullptr;
    const lockdownd_error_t rc = lockdownd_client_new_with_handshake(handle.get(), &probe, label);
    if (probe)
        lockdownd_client_free(probe);
    // Any answer past the mux means lockdown was reached, and the version was asked first.
    state->versionLearned = rc != LOCKDOWN_E_MUX_ERROR;
}

// The calling thread's connection, or null when it has none.
Connection* connectionOf(DeviceState* state)
{
    auto it = state->connections.find(std::this_thread::get_id());
    return it == state->connections.end() || !it->second.lockdown ? nullptr : &it->second;
}

// Runs `work` with the calling thread's connection, under the device's lock; `missing` when the
// device or the connection is not there.
template <typename R, typename Work> R onConnection(void* device, R missing, Work work)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return missing;
    std::lock_guard<std::mutex> lock(state->mutex);
    Connection* c = connectionOf(state);
    return c ? work(*state, *c) : missing;
}

// The host identifier from usbmuxd's pair record for the device.
std::string hostId(const std::string& udid)
{
    char* data = nullptr;
    uint32_t size = 0;
    if (usbmuxd_read_pair_record(udid.c_str(), &data, &size) != 0 || !data)
        return std::string();
    plist_t record = nullptr;
    plist_from_memory(data, size, &record);
    std::free(data);
    std::string id = record ? plistString(plist_dict_get_item(record, "HostID")) : std::string();
    if (record)
        plist_free(record);
    return id;
}

// Services that insist on SSL are bridged to a plain socket, so the program always speaks
// plain bytes. One thread moves data both ways (the SSL object is never used concurrently) and
// waits in poll on both sockets. The device's socket is non-blocking once the handshake is done:
// a TLS 1.3 session ticket is a record with no data, and a blocking read after it would wait for
// the phone's next reply while the program's request sits unsent. Without read-ahead, OpenSSL
// takes one record per read and leaves the rest on the socket, where poll sees it.
void bridge(idevice_connection_t connection, int plainEnd)
{
    int deviceEnd = -1;
    char buffer[65536];
    bool open = idevice_connection_get_fd(connection, &deviceEnd) == IDEVICE_E_SUCCESS && deviceEnd >= 0;
    int stuck = 0; // reads that failed with the same bytes still waiting
    int stuckAt = -1;
    while (open) {
        pollfd p[2] = {{plainEnd, POLLIN, 0}, {deviceEnd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            open = errno == EINTR;
            continue;
        }
        if (p[0].revents) {
            const ssize_t n = recv(plainEnd, buffer, sizeof buffer, 0);
            open = n > 0;
            uint32_t done = 0;
            while (open && done < uint32_t(n)) {
                uint32_t sent = 0;
                open = idevice_connection_send(connection, buffer + done, uint32_t(n) - done, &sent) ==
                           IDEVICE_E_SUCCESS &&
                       sent > 0;
                done += sent;
            }
        }
        if (open && p[1].revents) {
            uint32_t got = 0;
            if (idevice_connection_receive(connection, buffer, sizeof buffer, &got) != IDEVICE_E_SUCCESS ||
                got == 0) {
                // A record without data, or half a record: wait for more. The phone hanging up,
                // or a broken session that takes no more bytes, ends the bridge.
                char peek;
                const ssize_t waiting = recv(deviceEnd, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
                int queued = 0;
                ioctl(deviceEnd, FIONREAD, &queued);
                stuck = waiting > 0 && queued == stuckAt ? stuck + 1 : 0;
                stuckAt = queued;
                open =
                    (waiting > 0 || (waiting < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) && stuck < 3;
                continue;
            }
            stuck = 0;
            stuckAt = -1;
            uint32_t done = 0;
            while (open && done < got) {
                const ssize_t n = send(plainEnd, buffer + done, got - done, MSG_NOSIGNAL);
                open = n > 0;
                done += open ? uint32_t(n) : 0;
            }
        }
    }
    idevice_disconnect(connection);
    close(plainEnd);
}

// libusbmuxd and libimobiledevice write to the daemon's sockets without MSG_NOSIGNAL: a phone
// unplugged (or a service closed by the phone) mid-request would end the whole program with
// SIGPIPE. The write fails with EPIPE instead, which the callers already handle. A handler the
// program installed itself is left alone.
void ignoreBrokenPipes()
{
    struct sigaction current
    {
    };
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        !(current.sa_flags & SA_SIGINFO))
        signal(SIGPIPE, SIG_IGN);
}

} // namespace

extern "C" {

int AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t, void* context,
                                  void** subscription)
{
    ignoreBrokenPipes();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        subscriber = callback;
        subscriberContext = context;
    }
    if (subscription)
        *subscription = nullptr;
    // With no daemon running this still succeeds: libusbmuxd keeps trying in the background,
    // and devices appear once usbmuxd starts.
    const idevice_error_t rc = idevice_event_subscribe(onEvent, nullptr);
    return rc == IDEVICE_E_SUCCESS ? 0 : int(rc);
}

int SpacewellDeviceDaemonAnswers(void)
{
    usbmuxd_device_info_t* list = nullptr;
    const int count = usbmuxd_get_device_list(&list);
    if (list)
        usbmuxd_device_list_free(&list);
    return count >= 0 ? 1 : 0;
}

int AMDeviceConnect(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    Connection& c = state->connections[std::this_thread::get_id()];
    closeConnection(c); // a connection left from a failed pairing is replaced
    c.device = deviceHandle(state);
    if (!c.device)
        return AMDeviceErrorMux;
    learnVersion(state, c.device);
    const lockdownd_error_t rc = lockdownd_client_new(c.device.get(), &c.lockdown, label);
    if (rc != LOCKDOWN_E_SUCCESS) {
        c.lockdown = nullptr;
        closeConnection(c);
        return int(rc);
    }
    return 0;
}

int AMDeviceIsPaired(void* device)
{
    DeviceState* state = stateOf(device);
    return state && isPaired(state->udid) ? 1 : 0;
}

int AMDevicePair(void* device)
{
    // Passcode set, the Trust dialog still open and Trust refused come back as -17, -19 and -18.
    return onConnection(device, int(AMDeviceErrorMux),
                        [](DeviceState&, Connection& c) { return int(lockdownd_pair(c.lockdown, nullptr)); });
}

int AMDeviceValidatePairing(void* device)
{
    return onConnection(device, int(AMDeviceErrorMux), [](DeviceState&, Connection& c) {
        lockdownd_error_t rc = lockdownd_validate_pair(c.lockdown, nullptr);
        if (rc == LOCKDOWN_E_INVALID_HOST_ID) {
            // The phone no longer knows this computer (erased, or its trust settings reset) while
            // usbmuxd still holds the old pair record, so it counts as paired and would fail here
            // on every connect. Pair afresh, as libimobiledevice's own handshake does: the phone
            // asks for trust again and the pairing errors say so.
            rc = lockdownd_pair(c.lockdown, nullptr);
            if (rc == LOCKDOWN_E_SUCCESS)
                rc = lockdownd_validate_pair(c.lockdown, nullptr);
        }
        return int(rc);
    });
}

int AMDeviceStartSession(void* device)
{
    return onConnection(device, int(AMDeviceErrorMux), [](DeviceState& state, Connection& c) {
        const std::string host = hostId(state.udid);
        if (host.empty())
            return int(AMDeviceErrorMissingPairRecord);
        std::free(c.sessionId);
        c.sessionId = nullptr;
        learnVersion(&state, c.device); // a phone paired on this connection
        int ssl = 0;
        return int(lockdownd_start_session(c.lockdown, host.c_str(), &c.sessionId, &ssl));
    });
}

int AMDeviceStopSession(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    Connection* c = connectionOf(state);
    if (!c || !c->sessionId)
        return AMDeviceErrorNoRunningSession;
    const int rc = int(lockdownd_stop_session(c->lockdown, c->sessionId));
    std::free(c->sessionId);
    c->sessionId = nullptr;
    return rc;
}

int AMDeviceDisconnect(void* device)
{
    DeviceState* state = stateOf(device);
    if (!state)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    auto it = state->connections.find(std::this_thread::get_id());
    if (it != state->connections.end()) {
        closeConnection(it->second);
        state->connections.erase(it);
    }
    return 0;
}

plist_t AMDeviceCopyValue(void* device, plist_t domain, plist_t key)
{
    return onConnection(device, plist_t(nullptr), [domain, key](DeviceState&, Connection& c) {
        const std::string domainText = plistString(domain);
        const std::string keyText = plistString(key);
        plist_t value = nullptr;
        if (lockdownd_get_value(c.lockdown, domain ? domainText.c_str() : nullptr,
                                key ? keyText.c_str() : nullptr, &value) != LOCKDOWN_E_SUCCESS) {
            if (value)
                plist_free(value);
            return plist_t(nullptr);
        }
        return value;
    });
}

int AMDeviceStartService(void* device, plist_t serviceName, int* socketOut, void*)
{
    DeviceState* state = stateOf(device);
    if (!state || !socketOut)
        return AMDeviceErrorMux;
    std::lock_guard<std::mutex> lock(state->mutex);
    Connection* c = connectionOf(state);
    if (!c)
        return AMDeviceErrorMux;
    lockdownd_service_descriptor_t service = nullptr;
    const lockdownd_error_t rc =
        lockdownd_start_service(c->lockdown, plistString(serviceName).c_str(), &service);
    if (rc != LOCKDOWN_E_SUCCESS || !service) {
        if (service)
            lockdownd_service_descriptor_free(service);
        return rc != LOCKDOWN_E_SUCCESS ? int(rc) : AMDeviceErrorUnknown;
    }
    const uint16_t port = service->port;
    const bool ssl = service->ssl_enabled != 0;
    lockdownd_service_descriptor_free(service);

    idevice_connection_t connection = nullptr;
    if (idevice_connect(c->device.get(), port, &connection) != IDEVICE_E_SUCCESS)
        return AMDeviceErrorMux;
    if (ssl) {
        int deviceEnd = -1;
        if (idevice_connection_enable_ssl(connection) != IDEVICE_E_SUCCESS ||
            idevice_connection_get_fd(connection, &deviceEnd) != IDEVICE_E_SUCCESS ||
            fcntl(deviceEnd, F_SETFL, fcntl(deviceEnd, F_GETFL) | O_NONBLOCK) != 0) {
            idevice_disconnect(connection);
            return AMDeviceErrorUnknown;
        }
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            idevice_disconnect(connection);
            return AMDeviceErrorUnknown;
        }
        std::thread(bridge, connection, ends[1]).detach();
        *socketOut = ends[0];
        return 0;
    }
    // The connection's socket outlives the connection object: the caller owns a duplicate.
    int fd = -1;
    if (idevice_connection_get_fd(connection, &fd) != IDEVICE_E_SUCCESS || fd < 0) {
        idevice_disconnect(connection);
        return AMDeviceErrorUnknown;
    }
    const int owned = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    idevice_disconnect(connection);
    if (owned < 0)
        return AMDeviceErrorUnknown;
    *socketOut = owned;
    return 0;
}

} // extern "C"
