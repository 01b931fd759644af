#pragma once

#include "BackupFileName.h"

#include <QString>

// A database file of the backup: its domain and path on the phone, and its backup file name
// (domain-path hashed, see backupFileName), which never changes.
struct BackupDatabase
{
    const char* domain;
    const char* path;
    const char* name;

    QString fileName() const { return QLatin1String(name); }
    // The backup file name of a file SQLite keeps beside the database ("-wal", "-shm").
    QString sideFileName(const char* suffix) const
    {
        return backupFileName(QLatin1String(domain), QLatin1String(path) + QLatin1String(suffix));
    }
};

// The databases the cleaners read and edit.
namespace KnownDatabases {
inline constexpr BackupDatabase messages{"HomeDomain", "Library/SMS/sms.db",
                                         "3d0d7e5fb2ce288813306e4d4636395e047a3d28"};
// Safari's history up to iOS 9, in the app's own domain.
inline constexpr BackupDatabase safariHistory{"AppDomain-com.apple.mobilesafari", "Library/Safari/History.db",
                                              "e74113c185fd8297e140cfcf9c99436c5cc06b57"};
// Safari's history from iOS 10 on.
inline constexpr BackupDatabase safariHistoryHome{"HomeDomain", "Library/Safari/History.db",
                                                  "1a0e7afc19d307da602ccdcece51af33afe92c53"};
inline constexpr BackupDatabase callHistory{"WirelessDomain", "Library/CallHistory/call_history.db",
                                            "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca"};
inline constexpr BackupDatabase callHistoryStore{"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata",
                                                 "5a4935c78a5255723f707230a451d79c540d2741"};
inline constexpr BackupDatabase all[] = {messages, safariHistory, safariHistoryHome, callHistory,
                                         callHistoryStore};
} // namespace KnownDatabases
