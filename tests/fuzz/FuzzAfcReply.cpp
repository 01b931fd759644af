// AFC replies from arbitrary bytes: the packet reader over a socket and the reply parsers.
#include "AfcPackets.h"
#include "FuzzTarget.h"

#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    afc_split_names(bytes);
    afc_parse_file_info(bytes);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return 0;
    feedAndClose(ends[1], data, size);
    try {
        for (int i = 0; i < 4; ++i) {
            AfcHeader header;
            quint32 status = 0;
            afc_receive_packet(ends[0], header, i % 2 ? &status : nullptr);
        }
    } catch (const std::exception&) {
    }
    close(ends[0]);
    return 0;
}
