#include "UndoFlow.h"

#include "DeviceSpace.h"
#include "FormatSize.h"
#include "UndoStore.h"

#include <QLocale>

QString UndoFlow::question(const IOSDevice& device)
{
    const UndoStore::Info info = UndoStore::of(device);
    if (!info.present)
        return QString();
    return QStringLiteral(
               "Put back on %1 what the Free Up of %2 removed (%3)? The device restarts to finish. "
               "This undo keeps %4 on this computer until the next Free Up of the device.")
        .arg(device.deviceName, QLocale().toString(info.taken.toLocalTime(), QLocale::ShortFormat),
             info.items.join(QStringLiteral(", ")), formatSize(info.diskBytes));
}

FlowResult UndoFlow::undo(const IOSDevice& device)
{
    FlowResult result;
    const UndoStore::Info info = UndoStore::of(device);
    if (!info.present) {
        result.ending = FlowResult::Ending::Failed;
        result.message = QStringLiteral("There is no Free Up of this device to undo.");
        return result;
    }
    result.freeBefore = DeviceStorage::freeBytes(device);
    // The undo's files are what the phone receives.
    if (!roomForRestore(device, info.diskBytes, result) || !restore(device, info.root, result))
        return result;
    UndoStore::drop(device);
    result.closingText = QStringLiteral("What the last Free Up removed (%1) is back on the device.")
                             .arg(info.items.join(QStringLiteral(", "))) +
                         (result.restarts ? QStringLiteral(" The device restarts to finish.") : QString());
    return result;
}
