#include "BackupSettings.h"

#include "CFType.h"
#include "MobileDeviceManager.h"

BackupSettings BackupSettings::check(const IOSDevice& device)
{
    BackupSettings settings;
    QList<CFType> values;
    try {
        values =
            mobiledevice_copy_values(device.device, {QString()}, QStringLiteral("com.apple.mobile.backup"));
    } catch (const std::exception& e) {
        // No backup without knowing the settings.
        settings.verdict = Verdict::Unreadable;
        settings.text = QString::fromUtf8(e.what());
        return settings;
    }
    if (values.isEmpty() || values.at(0).isNull())
        return settings;
    if (values.at(0).value(QStringLiteral("CloudBackupEnabled")).toBool(false)) {
        settings.verdict = Verdict::CloudBackupOn;
        settings.text = QStringLiteral("Failed to transfer data to device. Please turn off iCloud backup on "
                                       "your iPhone to try again.");
        settings.picture = QStringLiteral(":res/close_icloudbk.jpg");
    }
    settings.encrypted = values.at(0).value(QStringLiteral("WillEncrypt")).toBool(false);
    return settings;
}
