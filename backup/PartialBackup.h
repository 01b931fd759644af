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

enum class Kind
{
    // What the edit changed, as it is now: the restore of a Free Up.
    Changes,
    // The same entries as they were before the edit (each database as kept beside it, each
    // dropped file with its content): the restore that undoes the Free Up.
    Undo
};

struct Written
{
    int entries = 0;  // files and folders listed
    qint64 bytes = 0; // what the phone receives
};

// Writes the partial backup of `edited` (the manifest of the backup folder `full`, after its
// changes were written) into `into`, which must not exist yet. Throws std::runtime_error naming
// what failed. An Undo takes the kept databases out of the folder.
Written write(const QDir& full, BackupManifest& edited, const QDir& into, Kind kind = Kind::Changes);

// Where an edit keeps a database of the backup as it was before the edit (a second name for the
// same file, so keeping it costs no copy).
QString keptOriginal(const QString& databasePath);

} // namespace PartialBackup
