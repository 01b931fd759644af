#pragma once

// Backup file names of the databases the cleaners edit (domain-path hashed, see backupFileName).
namespace KnownDatabases {
// HomeDomain, Library/SMS/sms.db
inline constexpr char messages[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
// AppDomain-com.apple.mobilesafari, Library/Safari/History.db
inline constexpr char safariHistory[] = "e74113c185fd8297e140cfcf9c99436c5cc06b57";
// WirelessDomain, Library/CallHistory/call_history.db
inline constexpr char callHistory[] = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";
// HomeDomain, Library/CallHistoryDB/CallHistory.storedata
inline constexpr char callHistoryStore[] = "5a4935c78a5255723f707230a451d79c540d2741";
} // namespace KnownDatabases
