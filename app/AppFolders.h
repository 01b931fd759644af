#pragma once

#include <QDir>
#include <QString>

struct IOSDevice;

// The per-user roaming folder (the XDG data folder).
QString roamingDir();

// The redirect target named by the redirect file, or empty when there is none or it does not exist.
QString readRedirectFile();

// The application data folder, created if missing on every call.
QDir appDataDir();

// "ios_cache/<uniqueDeviceId>" inside the application data folder, created if missing.
QDir deviceCacheDir(const IOSDevice& device);

// deviceCacheDir joined with the cleaned name; not created here.
QDir appCacheDir(const IOSDevice& device, const QString& name);

// Tests switch the data folder between cases; the program computes it once.
void resetAppDataDirForTests();
