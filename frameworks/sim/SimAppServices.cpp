// The installation proxy, house arrest and AFC services of a simulated device.
//   apps.plist                    the installed user apps, in the order the device lists them
//   containers/<identifier>/      each app's container
//   media/                        what "com.apple.afc" shows
// Switches: "BrowseBatchSize" (apps per Browse reply, default 3), "RefusedContainers" (identifiers
// whose containers house arrest refuses, as current iOS does for App Store apps).
#include "PlistString.h"
#include "SimAfc.h"
#include "SimServices.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

void installationProxy(SimSocket& socket)
{
    plist_t request = socket.readMessage();
    if (!request)
        return;
    const std::string command = plistDictString(request, "Command");
    plist_free(request);
    if (command != "Browse") {
        plist_t error = plist_new_dict();
        plist_dict_set_item(error, "Error", plist_new_string("UnknownCommand"));
        socket.writeMessage(error);
        plist_free(error);
        return;
    }
    plist_t apps = readPlistFile(socket.device().folder + "/apps.plist");
    const uint32_t total = apps && plist_get_node_type(apps) == PLIST_ARRAY ? plist_array_get_size(apps) : 0;
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

bool validIdentifier(const std::string& id)
{
    return !id.empty() && id != "." && id != ".." && id.find('/') == std::string::npos;
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
