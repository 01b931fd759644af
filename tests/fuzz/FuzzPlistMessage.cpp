// Property-list messages from arbitrary bytes: the framing reader, then every conversion on every
// value of what it parsed.
#include "FuzzTarget.h"
#include "MobileDeviceManager.h"

#include <QTimeZone>

#include <sys/socket.h>
#include <unistd.h>

namespace {
void visit(const CFType& value, int depth)
{
    if (depth > 16)
        return;
    value.toInt(1);
    value.toLongLong(2);
    value.toDouble(3);
    value.toBool(true);
    value.toString();
    value.toByteArray();
    value.toDateTime();
    const QTimeZone zone(3600);
    value.toDateTime(&zone);
    value.toDisplayText();
    value.toPlistBytes(CFType::XmlFormat);
    value.value(QStringLiteral("Status"));
    for (int i = 0; i < value.arrayCount() && i < 64; ++i)
        visit(value.arrayValue(i), depth + 1);
    if (value.isDictionary()) {
        for (const char* key : {"CurrentList", "Error", "Status", "CFBundleIdentifier", "$objects"})
            visit(value.value(QLatin1String(key)), depth + 1);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    visit(CFType::fromPlistBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))), 0);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return 0;
    feedAndClose(ends[1], data, size);
    try {
        visit(mobiledevice_recmsg(ends[0], CFType(), 100), 0);
    } catch (const std::exception&) {
    }
    close(ends[0]);
    return 0;
}
