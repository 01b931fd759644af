#pragma once

#include <plist/plist.h>

#include <string>
#include <vector>

// One simulated device: a folder under SPACEWELL_SIM_ROOT holding
//   values.plist    {"Values": {...root values...}, "Domains": {"com.apple.disk_usage": {...}, ...}}
//   switches.plist  optional failure and pairing switches, read afresh on every request
//   apps/, files/   app containers and the files a backup holds
struct SimDevice
{
    std::string folder; // absolute path
    std::string name;   // folder name

    bool exists() const;
    // A switch from switches.plist; the default when absent or of another type.
    bool flag(const char* key, bool fallback = false) const;
    long long number(const char* key, long long fallback = 0) const;
    std::vector<std::string> strings(const char* key) const;
    void setFlag(const char* key, bool value) const;

    void setNumber(const char* key, long long value) const;
    void setStrings(const char* key, const std::vector<std::string>& values) const;

    // A copy of a root value (domain empty) or a domain value (key empty: the whole domain). With
    // the switch "OtherUsedBytes" (what the system and everything else take), "AmountDataAvailable"
    // of "com.apple.disk_usage" follows the phone's files: the capacity less those and its files.
    plist_t copyValue(const std::string& domain, const std::string& key) const;
    // The bytes the phone's files take: its domains, app containers and media.
    long long storedBytes() const;
    std::string rootString(const char* key) const;
    // The major number of "ProductVersion" (0 when there is none).
    int majorVersion() const;
};

// Reads a property list file (XML or binary); null when missing or unreadable. Caller frees.
plist_t readPlistFile(const std::string& path);
// Writes XML beside the target and renames it over, so readers never see half a file.
bool writePlistFile(const std::string& path, plist_t value);
