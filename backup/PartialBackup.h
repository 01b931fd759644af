#pragma once

#include "BackupManifest.h"

#include <QDir>

// A backup folder that lists only what an edit changed, for a restore in update mode: the phone
// keeps every file such a backup does not list and overwrites the ones it lists.
//   - each replaced database, with its "-wal" and "-shm" as empty files, so that no log left on
//     the phone replays the rows the edit deleted;
//   - for each file record the edit dropped, an empty file in its place, which frees its space
//     and touches nothing else;
//   - the folders above each entry, down to the domain's own folder.
// It has the edited backup's format, Info.plist and Manifest.plist, and a Status.plist that says
// "finished" and not full.
namespace PartialBackup {

struct Written
{
    int entries = 0;  // files and folders listed
    qint64 bytes = 0; // what the phone receives
};

// Writes the partial backup of `edited` (the manifest of the backup folder `full`, after its
// changes were written) into `into`, which must not exist yet. Throws std::runtime_error naming
// what failed.
Written write(const QDir& full, BackupManifest& edited, const QDir& into);

} // namespace PartialBackup
