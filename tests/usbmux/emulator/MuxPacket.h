#pragma once

#include <plist/plist.h>

#include <cstdint>

// One packet of the usbmuxd protocol: a 16-byte header in host byte order (length with the
// header, version 1, message 8 for a property list, tag) and an XML property list.
struct MuxPacket
{
    uint32_t tag = 0;
    plist_t message = nullptr; // a dictionary; the caller frees it
};

// False when the peer hung up or sent something that is not a property-list packet.
bool readMuxPacket(int fd, MuxPacket& packet);
bool writeMuxPacket(int fd, uint32_t tag, plist_t message);
