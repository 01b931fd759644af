#pragma once

#include "SimServices.h"

#include <string>

// Serves AFC on the socket over a real folder. No path from the wire reaches outside `root`:
// ".." never climbs above it and links that lead out of it are not followed.
void serveAfc(SimSocket& socket, const std::string& root);

// Maps a device path onto the folder; false when it would leave it. `followLinks` also checks
// where links in the path lead.
bool resolveDevicePath(const std::string& root, const std::string& devicePath, bool followLinks,
                       std::string& out);
