#pragma once

// The services idevicebackup2 uses on a phone, played by the emulated phone:
// "com.apple.mobilebackup2" (the backup and restore protocol over DeviceLink),
// "com.apple.mobile.notification_proxy" (sync notifications) and
// "com.apple.springboardservices" (app icons for Info.plist).
void registerEmulatedBackupServices();
