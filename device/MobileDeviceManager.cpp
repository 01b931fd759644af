#include "MobileDeviceManager.h"

#include "FrameworkLoader.h"
#include "IOSDevice.h"
#include "MobileDevice.h"
#include "TextCut.h"

#include <QMetaObject>
#include <QRegularExpression>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString& text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

// Every call looks its function up by name when it is made.
template <typename F> F resolve(const char* name)
{
    auto f = reinterpret_cast<F>(mobiledevice_resolve(name));
    if (!f)
        raise(QStringLiteral("The device framework has no function %1.").arg(QLatin1String(name)));
    return f;
}

using DeviceCall = int (*)(void*);

int call(const char* name, void* device)
{
    return resolve<DeviceCall>(name)(device);
}

// The framework is never unsubscribed and calls back on its own thread for the life of the
// process (a daemon that exits reports every device gone), so the receiver it reaches is kept
// here, never destroyed, and cleared under the lock when its window goes away.
std::mutex& receiverMutex = *new std::mutex;
MobileDeviceNotificationContext& subscribed = *new MobileDeviceNotificationContext;

void notificationCallback(const AMDeviceNotificationInfo* info, void* context)
{
    auto* ctx = static_cast<MobileDeviceNotificationContext*>(context);
    std::lock_guard<std::mutex> lock(receiverMutex);
    if (!info || !info->device || !ctx || !ctx->receiver)
        return;
    // The framework's own record keeps a USB flag at byte offset 36.
    quint32 usb = 0;
    std::memcpy(&usb, static_cast<const char*>(info->device) + 36, sizeof usb);
    if (usb == 0)
        return;
    const char* method = info->message == AMDeviceMessageConnected      ? ctx->arrivalMethod
                         : info->message == AMDeviceMessageDisconnected ? ctx->removalMethod
                                                                        : nullptr;
    if (!method)
        return;
    QMetaObject::invokeMethod(ctx->receiver, method, Qt::AutoConnection, Q_ARG(void*, info->device));
}

QString xmlText(const CFType& message)
{
    return leftWhole(QString::fromUtf8(message.toPlistBytes(CFType::XmlFormat)), 800);
}

} // namespace

int mobiledevice_subscribe(MobileDeviceNotificationContext* context)
{
    if (!apple_framework_loaded()) {
        QString error;
        if (!load_apple_framework(error))
            raise(error);
    }
    using Subscribe = int (*)(AMDeviceNotificationCallback, uint32_t, uint32_t, void*, void**);
    const auto subscribe = resolve<Subscribe>("AMDeviceNotificationSubscribe");
    {
        std::lock_guard<std::mutex> lock(receiverMutex);
        subscribed = *context;
    }
    void* handle = nullptr;
    return subscribe(notificationCallback, 0, 0, &subscribed, &handle);
}

void mobiledevice_stop_notifications(QObject* receiver)
{
    std::lock_guard<std::mutex> lock(receiverMutex);
    if (subscribed.receiver == receiver)
        subscribed.receiver = nullptr;
}

int mobiledevice_connect(void* device, QString& error)
{
    auto fail = [&error](const QString& code) {
        error = QStringLiteral("%1<br/><br/>Error code: %2")
                    .arg(QStringLiteral(
                             "Please restart your iPhone and computer to try again. If a prompt message "
                             "pops out on your iPhone, please click \"Trust\"."),
                         code);
    };
    int rc = call("AMDeviceConnect", device);
    if (rc != 0) {
        fail(QStringLiteral("AMDeviceConnect(%1)").arg(rc));
        return rc;
    }
    if (call("AMDeviceIsPaired", device) == 0) {
        rc = call("AMDevicePair", device);
        if (rc != 0) {
            // Nothing more runs on this connection: a worker thread would otherwise leave it open.
            call("AMDeviceDisconnect", device);
            fail(QStringLiteral("AMDevicePair(%1)").arg(rc));
            return rc;
        }
    }
    rc = call("AMDeviceValidatePairing", device);
    if (rc != 0) {
        call("AMDeviceDisconnect", device);
        fail(QStringLiteral("AMDeviceValidatePairing(%1)").arg(rc));
        return rc;
    }
    rc = call("AMDeviceStartSession", device);
    if (rc != 0) {
        call("AMDeviceDisconnect", device);
        fail(QStringLiteral("AMDeviceStartSession(%1)").arg(rc));
        return rc;
    }
    return 0;
}

void mobiledevice_disconnect(void* device)
{
    call("AMDeviceStopSession", device);
    call("AMDeviceDisconnect", device);
}

QList<CFType> mobiledevice_copy_values(void* device, const QStringList& keys, const QString& domain)
{
    QString error;
    if (mobiledevice_connect(device, error) != 0)
        raise(error);
    QList<CFType> values;
    try {
        using CopyValue = plist_t (*)(void*, plist_t, plist_t);
        const auto copyValue = resolve<CopyValue>("AMDeviceCopyValue");
        const CFType domainValue = domain.isEmpty() ? CFType() : CFType::fromString(domain);
        for (const QString& key : keys) {
            const CFType keyValue = key.isEmpty() ? CFType() : CFType::fromString(key);
            values.append(CFType(copyValue(device, domainValue.ref(), keyValue.ref()), true));
        }
    } catch (...) {
        mobiledevice_disconnect(device);
        throw;
    }
    mobiledevice_disconnect(device);
    return values;
}

void mobiledevice_start_service(void* device, const QString& name, int& socket)
{
    QString error;
    if (mobiledevice_connect(device, error) != 0)
        raise(error);
    using StartService = int (*)(void*, plist_t, int*, void*);
    int rc;
    try {
        rc = resolve<StartService>("AMDeviceStartService")(device, CFType::fromString(name).ref(), &socket,
                                                           nullptr);
    } catch (...) {
        mobiledevice_disconnect(device);
        throw;
    }
    mobiledevice_disconnect(device);
    if (rc == 0)
        return;
    QString deviceText = QStringLiteral("Unknown");
    try {
        const QList<CFType> v = mobiledevice_copy_values(
            device,
            {QStringLiteral("DeviceName"), QStringLiteral("ProductType"), QStringLiteral("ProductVersion")},
            QString());
        deviceText =
            QStringLiteral("%1, %2, iOS %3")
                .arg(v.value(0).toDisplayText(), v.value(1).toDisplayText(), v.value(2).toDisplayText());
    } catch (const std::exception&) {
    }
    raise(QStringLiteral("<br/><br/>device:%1 <br/><br/>").arg(deviceText) +
          QStringLiteral(
              "Please turn off Wifi Sync on iTunes or disconnect computer internet connections to try "
              "again.<br/>") +
          QStringLiteral("Error code: AMDeviceStartService(%1)=%2").arg(name).arg(rc));
}

int mobiledevice_wait_socket(int socket, int timeoutMs, SocketDirection direction)
{
    // poll, unlike select, serves descriptors of any number.
    pollfd p{socket, short(direction == SocketDirection::Read ? POLLIN : POLLOUT), 0};
    int rc;
    do {
        rc = poll(&p, 1, timeoutMs >= 1 ? timeoutMs : -1);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

int mobiledevice_send_bytes(int socket, const char* bytes, int length, int timeoutMs)
{
    if (length <= 0 || mobiledevice_wait_socket(socket, timeoutMs, SocketDirection::Write) <= 0)
        return 0;
    const ssize_t sent = send(socket, bytes, size_t(length), MSG_NOSIGNAL);
    return sent < 0 ? 0 : int(sent);
}

int mobiledevice_recv_bytes(int socket, char* buffer, int length, int timeoutMs)
{
    int received = 0;
    while (received < length) {
        if (mobiledevice_wait_socket(socket, timeoutMs, SocketDirection::Read) <= 0)
            break;
        const ssize_t n = recv(socket, buffer + received, size_t(length - received), 0);
        if (n <= 0)
            break;
        received += int(n);
    }
    return received;
}

void mobiledevice_sendmsg(int socket, const CFType& message, bool binary, int timeoutMs)
{
    const QByteArray bytes = message.toPlistBytes(binary ? CFType::BinaryFormat : CFType::XmlFormat);
    if (bytes.size() <= 0)
        return;
    const quint32 n = quint32(bytes.size());
    const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    if (mobiledevice_send_bytes(socket, length, 4, timeoutMs) < 4)
        raise(QStringLiteral("mobiledevice_sendmsg(msg-length) error.\n%1").arg(xmlText(message)));
    // One send may take only part of a long message; the rest follows.
    int sent = 0;
    while (sent < bytes.size()) {
        const int n =
            mobiledevice_send_bytes(socket, bytes.constData() + sent, int(bytes.size()) - sent, timeoutMs);
        if (n <= 0)
            break;
        sent += n;
    }
    if (sent < bytes.size())
        raise(QStringLiteral("mobiledevice_sendmsg(msg) error.\n%1").arg(xmlText(message)));
}

CFType mobiledevice_recmsg(int socket, const CFType& request, int timeoutMs)
{
    auto fail = [&request](const QString& text) {
        raise(request.isNull() ? text : text + QStringLiteral("\n") + xmlText(request));
    };
    unsigned char header[4];
    const int got = mobiledevice_recv_bytes(socket, reinterpret_cast<char*>(header), 4, 60000);
    if (got < 4)
        fail(QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: %1.").arg(got));
    const quint32 length =
        quint32(header[0]) << 24 | quint32(header[1]) << 16 | quint32(header[2]) << 8 | header[3];
    // A peer may announce anything; nothing is allocated for more than a message may hold.
    if (length > mobiledeviceMaxMessage)
        fail(QStringLiteral("mobiledevice_recmsg(msg) error, received length: 0."));
    QByteArray body(qsizetype(length), Qt::Uninitialized);
    const int received = mobiledevice_recv_bytes(socket, body.data(), int(length), timeoutMs);
    if (received < int(length))
        fail(QStringLiteral("mobiledevice_recmsg(msg) error, received length: %1.").arg(received));
    return CFType::fromPlistBytes(body);
}

int mobiledevice_close_socket(int socket)
{
    return close(socket);
}

bool isSafeUniqueDeviceId(const QString& udid)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9-]{1,64}$"));
    return safe.match(udid).hasMatch();
}

IOSDevice mobiledevice_read_device(void* device)
{
    const QList<CFType> v =
        mobiledevice_copy_values(device,
                                 {QStringLiteral("UniqueDeviceID"), QStringLiteral("DeviceName"),
                                  QStringLiteral("MobileSubscriberCountryCode"),
                                  QStringLiteral("ProductVersion"), QStringLiteral("ProductType")},
                                 QString());
    IOSDevice d;
    d.uniqueDeviceId = v.value(0).toDisplayText();
    d.deviceName = v.value(1).toDisplayText();
    d.countryCode = v.value(2).toDisplayText();
    d.productVersion = v.value(3).toDisplayText();
    d.productType = v.value(4).toDisplayText();
    d.device = device;
    if (!isSafeUniqueDeviceId(d.uniqueDeviceId))
        raise(QStringLiteral(
                  "The connected device reports an unusable identifier (\"%1\"), so it cannot be used.")
                  .arg(leftWhole(d.uniqueDeviceId, 80).toHtmlEscaped()));
    return d;
}
