#pragma once

#include "SimDevice.h"

#include <QDir>
#include <QString>

#include <functional>

// Backing a simulated phone up and restoring it, as the phone itself does: shared by the
// simulated backup tool and the emulated phone's backup service.

// Whether the phone leaves a file out of every backup: from iOS 10 on, caches and temporary files
// (Library/Caches/ and tmp/ of every domain) never go into one.
bool simNeverBackedUp(const SimDevice& device, const QString& domain, const QString& path);

// Writes a whole backup of the phone into an empty folder: one file per record named by the
// backup file name rule, the manifest of the phone's system version (Manifest.mbdb up to iOS 9,
// Manifest.db with two-character sub-folders from iOS 10), Info.plist, Manifest.plist and a
// Status.plist that says "finished". Empty on success, else what went wrong.
QString writeSimBackup(const SimDevice& device, const QString& udid, const QDir& folder);

// Puts a backup folder on the phone: every file the manifest lists is written; with
// `removeNotRestored` every other file of the domains the phone keeps is removed, and so are the
// caches and temporary files of its apps, which no backup holds. The phone's files change in one
// step at the end, so a run that stops half-way leaves them as they were. `stop` is asked between
// files. Empty on success, else what went wrong.
QString restoreSimBackup(const SimDevice& device, const QDir& backupDir, bool removeNotRestored,
                         const std::function<bool()>& stop = {});
