/* The mobile device framework: what the program calls to reach a phone. Two builds implement it,
 * one over usbmuxd for real devices and one over simulated devices. The program loads the build
 * at run time and resolves each function by name. */
#pragma once

#include <plist/plist.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AM_EXPORT __attribute__((visibility("default")))

/* Messages of a device notification. */
enum
{
    AMDeviceMessageConnected = 1,
    AMDeviceMessageDisconnected = 2
};

/* The device record behind a device handle. The program reads only the 32-bit word at byte
 * offset 36: non-zero for a device reached over USB. Records live until the process ends. */
typedef struct AMDeviceRecord
{
    char udid[32];
    uint32_t reserved;
    uint32_t isUsb;  /* byte offset 36 */
    void* framework; /* the build's own state */
} AMDeviceRecord;

typedef struct AMDeviceNotificationInfo
{
    void* device;     /* AMDeviceRecord* */
    uint32_t message; /* AMDeviceMessageConnected or AMDeviceMessageDisconnected */
} AMDeviceNotificationInfo;

/* Called on the framework's own thread; it must return promptly. */
typedef void (*AMDeviceNotificationCallback)(const AMDeviceNotificationInfo* info, void* context);

/* Results are 0 on success or a negative error code. */
AM_EXPORT int AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t unused1,
                                            uint32_t unused2, void* context, void** subscription);
AM_EXPORT int AMDeviceConnect(void* device);
AM_EXPORT int AMDeviceIsPaired(void* device); /* non-zero when paired */
AM_EXPORT int AMDevicePair(void* device);
AM_EXPORT int AMDeviceValidatePairing(void* device);
AM_EXPORT int AMDeviceStartSession(void* device);
AM_EXPORT int AMDeviceStopSession(void* device);
AM_EXPORT int AMDeviceDisconnect(void* device);
/* domain and key are string nodes or NULL; the value returned belongs to the caller (or NULL). */
AM_EXPORT plist_t AMDeviceCopyValue(void* device, plist_t domain, plist_t key);
/* On success *socket is a connected stream socket that the caller closes with close(). */
AM_EXPORT int AMDeviceStartService(void* device, plist_t serviceName, int* socket, void* unused);

/* Optional (the real-device build only): 1 when the device daemon answers, 0 when it does not, so
 * that the program can tell "no phone plugged in" from "nothing to reach phones with". */
AM_EXPORT int SpacewellDeviceDaemonAnswers(void);

/* Error codes shared by both builds; they are lockdownd's own numbers. */
enum
{
    AMDeviceErrorPlist = -3,
    AMDeviceErrorMux = -8, /* the device cannot be reached */
    AMDeviceErrorNoRunningSession = -9,
    AMDeviceErrorPasswordProtected = -17,
    AMDeviceErrorUserDeniedPairing = -18,
    AMDeviceErrorPairingDialogPending = -19,
    AMDeviceErrorInvalidHostId = -21,
    AMDeviceErrorSessionInactive = -23,
    AMDeviceErrorInvalidService = -27,
    AMDeviceErrorMissingPairRecord = -29,
    AMDeviceErrorServiceProhibited = -34,
    AMDeviceErrorUnknown = -256
};

#ifdef __cplusplus
}
#endif
