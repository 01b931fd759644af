#pragma once

#include "CFType.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

struct IOSDevice;

// The receiver of device arrival and removal, called by name with the device handle (void*).
struct MobileDeviceNotificationContext
{
    QObject* receiver = nullptr;
    const char* arrivalMethod = "iosDeviceConnected";
    const char* removalMethod = "iosDeviceDisconnected";
};

enum class SocketDirection
{
    Read,
    Write
};

// Subscribes to device events (loads the framework first if needed; raises its error text).
// The context is copied: events go to its receiver until another subscription replaces it.
int mobiledevice_subscribe(MobileDeviceNotificationContext* context);
// No more events reach the receiver (if it is the subscribed one); call before it is destroyed.
void mobiledevice_stop_notifications(QObject* receiver);
// Connect, pair if needed, validate, start a session. 0 or the framework's error code.
int mobiledevice_connect(void* device, QString& error);
void mobiledevice_disconnect(void* device);
// One value per key (an empty key reads the whole domain); a value the device lacks is null.
QList<CFType> mobiledevice_copy_values(void* device, const QStringList& keys, const QString& domain);
void mobiledevice_start_service(void* device, const QString& name, int& socket);

int mobiledevice_wait_socket(int socket, int timeoutMs, SocketDirection direction);
int mobiledevice_send_bytes(int socket, const char* bytes, int length, int timeoutMs);
int mobiledevice_recv_bytes(int socket, char* buffer, int length, int timeoutMs);
// Property-list messages framed by a 4-byte big-endian length.
void mobiledevice_sendmsg(int socket, const CFType& message, bool binary, int timeoutMs);
CFType mobiledevice_recmsg(int socket, const CFType& request, int timeoutMs);
int mobiledevice_close_socket(int socket);

// The largest message accepted from a device.
inline constexpr quint32 mobiledeviceMaxMessage = 16u << 20;

// Reads the five identity values of a device into a record; raises an error for a device whose
// unique identifier could not safely name a folder.
IOSDevice mobiledevice_read_device(void* device);
// True for 1 to 64 letters, digits and hyphens.
bool isSafeUniqueDeviceId(const QString& udid);
