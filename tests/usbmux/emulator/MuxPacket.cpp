#include "MuxPacket.h"

#include "SocketIo.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr uint32_t protocolVersion = 1;
constexpr uint32_t plistMessage = 8;
constexpr uint32_t largestPacket = 1u << 20;

struct Header
{
    uint32_t length;
    uint32_t version;
    uint32_t message;
    uint32_t tag;
};
} // namespace

bool readMuxPacket(int fd, MuxPacket& packet)
{
    Header header{};
    if (!readExact(fd, &header, sizeof header) || header.version != protocolVersion ||
        header.message != plistMessage || header.length <= sizeof header || header.length > largestPacket)
        return false;
    std::string body(header.length - sizeof header, '\0');
    if (!readExact(fd, &body[0], body.size()))
        return false;
    plist_t message = nullptr;
    plist_from_memory(body.data(), uint32_t(body.size()), &message);
    if (!message || plist_get_node_type(message) != PLIST_DICT) {
        if (message)
            plist_free(message);
        return false;
    }
    packet.tag = header.tag;
    packet.message = message;
    return true;
}

bool writeMuxPacket(int fd, uint32_t tag, plist_t message)
{
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(message, &xml, &length);
    if (!xml)
        return false;
    const Header header{uint32_t(sizeof(Header)) + length, protocolVersion, plistMessage, tag};
    std::string packet(reinterpret_cast<const char*>(&header), sizeof header);
    packet.append(xml, length);
    std::free(xml);
    return sendAll(fd, packet.data(), packet.size());
}
