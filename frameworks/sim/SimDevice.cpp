#include "SimDevice.h"

#include "PlistString.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

plist_t readPlistFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty())
        return nullptr;
    plist_t value = nullptr;
    plist_from_memory(data.data(), uint32_t(data.size()), &value);
    return value;
}

bool writePlistFile(const std::string& path, plist_t value)
{
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(value, &xml, &length);
    if (!xml)
        return false;
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f && std::fwrite(xml, 1, length, f) == length;
    if (f)
        ok = std::fclose(f) == 0 && ok;
    std::free(xml);
    return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

bool SimDevice::exists() const
{
    struct stat st
    {
    };
    return stat((folder + "/values.plist").c_str(), &st) == 0;
}

namespace {
plist_t switchItem(const std::string& folder, const char* key, plist_t* holder)
{
    *holder = readPlistFile(folder + "/switches.plist");
    if (!*holder || plist_get_node_type(*holder) != PLIST_DICT)
        return nullptr;
    return plist_dict_get_item(*holder, key);
}
} // namespace

bool SimDevice::flag(const char* key, bool fallback) const
{
    plist_t holder = nullptr;
    plist_t item = switchItem(folder, key, &holder);
    bool result = fallback;
    if (item && plist_get_node_type(item) == PLIST_BOOLEAN) {
        uint8_t v = 0;
        plist_get_bool_val(item, &v);
        result = v != 0;
    }
    if (holder)
        plist_free(holder);
    return result;
}

long long SimDevice::number(const char* key, long long fallback) const
{
    plist_t holder = nullptr;
    plist_t item = switchItem(folder, key, &holder);
    long long result = fallback;
    if (item && plist_get_node_type(item) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(item, &v);
        result = static_cast<long long>(v);
    }
    if (holder)
        plist_free(holder);
    return result;
}

std::vector<std::string> SimDevice::strings(const char* key) const
{
    plist_t holder = nullptr;
    plist_t item = switchItem(folder, key, &holder);
    std::vector<std::string> result;
    if (item && plist_get_node_type(item) == PLIST_ARRAY) {
        for (uint32_t i = 0; i < plist_array_get_size(item); ++i) {
            plist_t s = plist_array_get_item(item, i);
            if (plist_get_node_type(s) == PLIST_STRING)
                result.push_back(plistString(s));
        }
    }
    if (holder)
        plist_free(holder);
    return result;
}

namespace {
// Sets one switch (taking `value`), keeping the others.
void setSwitch(const std::string& folder, const char* key, plist_t value)
{
    const std::string path = folder + "/switches.plist";
    plist_t dict = readPlistFile(path);
    if (!dict || plist_get_node_type(dict) != PLIST_DICT) {
        if (dict)
            plist_free(dict);
        dict = plist_new_dict();
    }
    plist_dict_set_item(dict, key, value);
    writePlistFile(path, dict);
    plist_free(dict);
}
} // namespace

void SimDevice::setFlag(const char* key, bool value) const
{
    setSwitch(folder, key, plist_new_bool(value ? 1 : 0));
}

void SimDevice::setNumber(const char* key, long long value) const
{
    setSwitch(folder, key, plist_new_uint(uint64_t(value)));
}

void SimDevice::setStrings(const char* key, const std::vector<std::string>& values) const
{
    plist_t array = plist_new_array();
    for (const std::string& v : values)
        plist_array_append_item(array, plist_new_string(v.c_str()));
    setSwitch(folder, key, array);
}

namespace {
thread_local long long walkedBytes = 0;

int addFile(const char*, const struct stat* st, int type, struct FTW*)
{
    if (type == FTW_F)
        walkedBytes += st->st_size;
    return 0;
}

// The capacity less what else is used and the phone's files.
void followStoredFiles(const SimDevice& device, const std::string& domain, const std::string& key,
                       plist_t& result)
{
    const long long other = device.number("OtherUsedBytes", -1);
    if (other < 0 || domain != "com.apple.disk_usage" || !result)
        return;
    plist_t totalNode = device.copyValue(domain, "TotalDataCapacity");
    uint64_t total = 0;
    if (totalNode && plist_get_node_type(totalNode) == PLIST_UINT)
        plist_get_uint_val(totalNode, &total);
    if (totalNode)
        plist_free(totalNode);
    const long long available = std::max(0LL, static_cast<long long>(total) - other - device.storedBytes());
    if (key.empty() && plist_get_node_type(result) == PLIST_DICT) {
        plist_dict_set_item(result, "AmountDataAvailable", plist_new_uint(uint64_t(available)));
    } else if (key == "AmountDataAvailable") {
        plist_free(result);
        result = plist_new_uint(uint64_t(available));
    }
}
} // namespace

long long SimDevice::storedBytes() const
{
    walkedBytes = 0;
    for (const char* part : {"/files", "/containers", "/media"})
        nftw((folder + part).c_str(), addFile, 16, FTW_PHYS);
    return walkedBytes;
}

plist_t SimDevice::copyValue(const std::string& domain, const std::string& key) const
{
    plist_t all = readPlistFile(folder + "/values.plist");
    if (!all || plist_get_node_type(all) != PLIST_DICT) {
        if (all)
            plist_free(all);
        return nullptr;
    }
    plist_t scope = nullptr;
    if (domain.empty()) {
        scope = plist_dict_get_item(all, "Values");
    } else {
        plist_t domains = plist_dict_get_item(all, "Domains");
        scope = domains && plist_get_node_type(domains) == PLIST_DICT
                    ? plist_dict_get_item(domains, domain.c_str())
                    : nullptr;
    }
    plist_t result = nullptr;
    if (scope && plist_get_node_type(scope) == PLIST_DICT) {
        plist_t item = key.empty() ? scope : plist_dict_get_item(scope, key.c_str());
        if (item)
            result = plist_copy(item);
    }
    plist_free(all);
    if (key != "TotalDataCapacity")
        followStoredFiles(*this, domain, key, result);
    return result;
}

std::string SimDevice::rootString(const char* key) const
{
    plist_t value = copyValue(std::string(), key);
    const std::string result = plistString(value);
    if (value)
        plist_free(value);
    return result;
}

int SimDevice::majorVersion() const
{
    return std::atoi(rootString("ProductVersion").c_str());
}
