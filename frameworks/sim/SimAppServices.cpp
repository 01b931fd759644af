// The installation proxy, house arrest and AFC services of a simulated device.
//   apps.plist                    the installed apps ("ApplicationType" "User" or "System"), in the
//                                 order the device lists them
//   containers/<identifier>/      each app's container
//   media/                        what "com.apple.afc" shows
// Switches: "BrowseBatchSize" (apps per Browse reply, default 3), "RefusedContainers" (identifiers
// whose containers house arrest refuses, as current iOS does for App Store apps).
#include "PlistString.h"
#include "SimAfc.h"
#include "SimServices.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>

namespace {

bool validIdentifier(const std::string& id)
{
    return !id.empty() && id != "." && id != ".." && id.find('/') == std::string::npos;
}

// Bytes in the files under a folder.
long long folderBytes(const std::string& path)
{
    long long total = 0;
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return 0;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string child = path + "/" + name;
        struct stat st
        {
        };
        if (lstat(child.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            total += folderBytes(child);
        else if (S_ISREG(st.st_mode))
            total += st.st_size;
    }
    closedir(dir);
    return total;
}

// One app as Browse reports it. "ReturnAttributes" names the keys to send (all of the entry when
// absent); the disk usage is worked out only when asked for ("StaticDiskUsage", the app itself,
// from its entry; "DynamicDiskUsage", its documents and data: the container), as in
// libimobiledevice issues 130, 469 and 511.
plist_t browseEntry(const SimDevice& device, plist_t app, plist_t attributes)
{
    if (!attributes || plist_get_node_type(attributes) != PLIST_ARRAY)
        return plist_copy(app);
    plist_t entry = plist_new_dict();
    for (uint32_t i = 0; i < plist_array_get_size(attributes); ++i) {
        const std::string key = plistString(plist_array_get_item(attributes, i));
        if (key == "DynamicDiskUsage") {
            const std::string identifier = plistDictString(app, "CFBundleIdentifier");
            if (validIdentifier(identifier))
                plist_dict_set_item(
                    entry, key.c_str(),
                    plist_new_uint(uint64_t(folderBytes(device.folder + "/containers/" + identifier))));
        } else if (plist_t value = plist_dict_get_item(app, key.c_str())) {
            plist_dict_set_item(entry, key.c_str(), plist_copy(value));
        }
    }
    return entry;
}

void installationProxy(SimSocket& socket)
{
    plist_t request = socket.readMessage();
    if (!request)
        return;
    const std::string command = plistDictString(request, "Command");
    plist_t options = plist_dict_get_item(request, "ClientOptions");
    // "User", "System" or "Any" (the default).
    std::string type = options ? plistDictString(options, "ApplicationType") : std::string();
    if (type.empty())
        type = "Any";
    plist_t attributes = options ? plist_copy(plist_dict_get_item(options, "ReturnAttributes")) : nullptr;
    plist_free(request);
    if (command != "Browse") {
        plist_t error = plist_new_dict();
        plist_dict_set_item(error, "Error", plist_new_string("UnknownCommand"));
        socket.writeMessage(error);
        plist_free(error);
        if (attributes)
            plist_free(attributes);
        return;
    }
    plist_t all = readPlistFile(socket.device().folder + "/apps.plist");
    plist_t apps = plist_new_array();
    for (uint32_t i = 0; all && plist_get_node_type(all) == PLIST_ARRAY && i < plist_array_get_size(all);
         ++i) {
        plist_t app = plist_array_get_item(all, i);
        if (type == "Any" || plistDictString(app, "ApplicationType") == type)
            plist_array_append_item(apps, browseEntry(socket.device(), app, attributes));
    }
    if (all)
        plist_free(all);
    if (attributes)
        plist_free(attributes);
    const uint32_t total = plist_array_get_size(apps);
    long long batch = socket.device().number("BrowseBatchSize", 3);
    if (batch < 1)
        batch = 1;
    for (uint32_t index = 0; index < total; index += uint32_t(batch)) {
        plist_t reply = plist_new_dict();
        plist_t list = plist_new_array();
        uint32_t amount = 0;
        for (uint32_t i = index; i < total && i < index + uint32_t(batch); ++i, ++amount)
            plist_array_append_item(list, plist_copy(plist_array_get_item(apps, i)));
        plist_dict_set_item(reply, "CurrentIndex", plist_new_uint(index));
        plist_dict_set_item(reply, "CurrentAmount", plist_new_uint(amount));
        plist_dict_set_item(reply, "Total", plist_new_uint(total));
        plist_dict_set_item(reply, "CurrentList", list);
        plist_dict_set_item(reply, "Status", plist_new_string("BrowsingApplications"));
        const bool ok = socket.writeMessage(reply);
        plist_free(reply);
        if (!ok) {
            plist_free(apps);
            return;
        }
    }
    if (apps)
        plist_free(apps);
    plist_t done = plist_new_dict();
    plist_dict_set_item(done, "Status", plist_new_string("Complete"));
    socket.writeMessage(done);
    plist_free(done);
}

void houseArrest(SimSocket& socket)
{
    plist_t request = socket.readMessage();
    if (!request)
        return;
    const std::string command = plistDictString(request, "Command");
    const std::string identifier = plistDictString(request, "Identifier");
    plist_free(request);
    bool refused = command != "VendContainer" || !validIdentifier(identifier);
    for (const std::string& id : socket.device().strings("RefusedContainers"))
        refused = refused || id == identifier;
    const std::string container = socket.device().folder + "/containers/" + identifier;
    struct stat st
    {
    };
    if (!refused && (stat(container.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        refused = true;
    plist_t reply = plist_new_dict();
    if (refused)
        plist_dict_set_item(reply, "Error", plist_new_string("InstallationLookupFailed"));
    else
        plist_dict_set_item(reply, "Status", plist_new_string("Complete"));
    const bool ok = socket.writeMessage(reply);
    plist_free(reply);
    if (ok && !refused)
        serveAfc(socket, container);
}

} // namespace

void registerAppSimServices()
{
    registerSimService("com.apple.mobile.installation_proxy", installationProxy);
    registerSimService("com.apple.mobile.house_arrest", houseArrest);
    registerSimService("com.apple.afc", [](SimSocket& socket) {
        const std::string media = socket.device().folder + "/media";
        mkdir(media.c_str(), 0755);
        serveAfc(socket, media);
    });
}
