// The vendor server's answers: the version check, the status-bar link and the time file.
#include "FuzzTarget.h"
#include "VendorService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    VendorService::downloadAddress(bytes);
    VendorService::recolouredLink(bytes);
    VendorService::dailyCheckDue(bytes, 1800000000);
    return 0;
}
