#include "SimAfc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

// Operation numbers as libimobiledevice's src/afc.h names them.
enum : uint64_t
{
    OpStatus = 1,
    OpData = 2,
    OpReadDir = 3,
    OpRemove = 8,
    OpMakeDir = 9,
    OpFileInfo = 10,
    OpOpen = 13,
    OpOpenResult = 14,
    OpRead = 15,
    OpWrite = 16,
    OpClose = 20,
    OpLock = 27
};
// Open modes (AFC_FOPEN_*) and lock operations (AFC_LOCK_*, non-blocking bit 4).
int openFlags(uint64_t mode)
{
    switch (mode) {
    case 1:
        return O_RDONLY;
    case 2:
        return O_RDWR | O_CREAT;
    case 3:
        return O_WRONLY | O_CREAT | O_TRUNC;
    case 4:
        return O_RDWR | O_CREAT | O_TRUNC;
    case 5:
        return O_WRONLY | O_APPEND | O_CREAT;
    case 6:
        return O_RDWR | O_APPEND | O_CREAT;
    default:
        return -1;
    }
}
enum : uint64_t
{
    Success = 0,
    OpHeaderInvalid = 2,
    ReadError = 4,
    WriteError = 5,
    UnknownPacket = 6,
    InvalidArg = 7,
    NotFound = 8,
    PermissionDenied = 10,
    WouldBlock = 19,
    DirNotEmpty = 33
};

constexpr uint64_t maxRequest = 1 << 20;
constexpr uint64_t maxRead = 1 << 20;

uint64_t le64(const unsigned char* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void putLe64(std::string& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(char(v >> (8 * i)));
}

// The 40-byte header of a reply carrying `payload` bytes after it.
std::string frameHeader(uint64_t packet, uint64_t op, size_t payload)
{
    std::string frame = "CFA6LPAA";
    putLe64(frame, 40 + payload);
    putLe64(frame, 40);
    putLe64(frame, packet);
    putLe64(frame, op);
    return frame;
}

bool reply(SimSocket& socket, uint64_t packet, uint64_t op, const std::string& payload)
{
    const std::string frame = frameHeader(packet, op, payload.size()) + payload;
    return socket.write(frame.data(), frame.size());
}

bool status(SimSocket& socket, uint64_t packet, uint64_t code)
{
    std::string payload;
    putLe64(payload, code);
    return reply(socket, packet, OpStatus, payload);
}

std::string realPath(const std::string& path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool within(const std::string& path, const std::string& root)
{
    return path == root ||
           (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
}

std::string cString(const std::string& data, size_t offset)
{
    if (offset >= data.size())
        return std::string();
    const size_t end = data.find('\0', offset);
    return data.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

} // namespace

bool resolveDevicePath(const std::string& root, const std::string& devicePath, bool followLinks,
                       std::string& out)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= devicePath.size()) {
        size_t end = devicePath.find('/', start);
        if (end == std::string::npos)
            end = devicePath.size();
        const std::string part = devicePath.substr(start, end - start);
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    const std::string realRoot = realPath(root);
    if (realRoot.empty())
        return false;
    out = realRoot;
    for (const std::string& part : parts)
        out += "/" + part;
    // Links inside the folder may point anywhere: what they lead to must still lie inside.
    const std::string parent = out.substr(0, out.rfind('/'));
    const std::string realParent = realPath(parts.empty() ? realRoot : parent);
    if (!realParent.empty() && !within(realParent, realRoot))
        return false;
    if (followLinks) {
        const std::string target = realPath(out);
        if (!target.empty() && !within(target, realRoot))
            return false;
    }
    return true;
}

void serveAfc(SimSocket& socket, const std::string& root)
{
    std::map<uint64_t, int> files;
    uint64_t nextHandle = 1;
    for (;;) {
        unsigned char header[40];
        if (!socket.readExact(header, 40) || std::memcmp(header, "CFA6LPAA", 8) != 0)
            break;
        const uint64_t entire = le64(header + 8);
        const uint64_t packet = le64(header + 24);
        const uint64_t op = le64(header + 32);
        if (entire < 40 || entire - 40 > maxRequest)
            break;
        if (!socket.device().exists())
            break; // unplugged: the connection goes with the device
        std::string data(size_t(entire - 40), '\0');
        if (!data.empty() && !socket.readExact(&data[0], data.size()))
            break;

        bool ok = true;
        std::string path;
        // The open file a request names in its first eight bytes, when it is `need` bytes long.
        auto openFile = [&files, &data](size_t need) {
            return data.size() >= need ? files.find(le64(reinterpret_cast<const unsigned char*>(data.data())))
                                       : files.end();
        };
        switch (op) {
        case OpReadDir: {
            if (!resolveDevicePath(root, cString(data, 0), true, path)) {
                ok = status(socket, packet, PermissionDenied);
                break;
            }
            DIR* dir = opendir(path.c_str());
            if (!dir) {
                ok = status(socket, packet, NotFound);
                break;
            }
            std::string names;
            while (dirent* entry = readdir(dir)) {
                names += entry->d_name;
                names.push_back('\0');
            }
            closedir(dir);
            ok = reply(socket, packet, OpData, names);
            break;
        }
        case OpFileInfo: {
            struct stat st
            {
            };
            if (!resolveDevicePath(root, cString(data, 0), false, path) || lstat(path.c_str(), &st) != 0) {
                ok = status(socket, packet, NotFound);
                break;
            }
            const char* type = S_ISREG(st.st_mode)   ? "S_IFREG"
                               : S_ISDIR(st.st_mode) ? "S_IFDIR"
                               : S_ISLNK(st.st_mode) ? "S_IFLNK"
                                                     : "S_IFIFO";
            const uint64_t mtime = uint64_t(st.st_mtim.tv_sec) * 1000000000ull + uint64_t(st.st_mtim.tv_nsec);
            std::string info;
            auto add = [&info](const std::string& key, const std::string& value) {
                info += key;
                info.push_back('\0');
                info += value;
                info.push_back('\0');
            };
            add("st_size", std::to_string(st.st_size));
            add("st_blocks", std::to_string(st.st_blocks));
            add("st_nlink", std::to_string(st.st_nlink));
            add("st_ifmt", type);
            add("st_mtime", std::to_string(mtime));
            add("st_birthtime", std::to_string(mtime));
            ok = reply(socket, packet, OpData, info);
            break;
        }
        case OpOpen: {
            if (data.size() < 9) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            const int flags = openFlags(le64(reinterpret_cast<const unsigned char*>(data.data())));
            if (flags < 0) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            if (!resolveDevicePath(root, cString(data, 8), true, path)) {
                ok = status(socket, packet, PermissionDenied);
                break;
            }
            const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
            struct stat st
            {
            };
            if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                if (fd >= 0)
                    ::close(fd);
                ok = status(socket, packet, NotFound);
                break;
            }
            const uint64_t handle = nextHandle++;
            files[handle] = fd;
            std::string payload;
            putLe64(payload, handle);
            ok = reply(socket, packet, OpOpenResult, payload);
            break;
        }
        case OpRead: {
            auto it = openFile(16);
            if (it == files.end()) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            const int fd = it->second;
            uint64_t count = le64(reinterpret_cast<const unsigned char*>(data.data()) + 8);
            if (count > maxRead)
                count = maxRead;
            // The file is read straight into the frame after its header.
            const std::unique_ptr<char[]> frame(new char[40 + size_t(count)]);
            const ssize_t n = ::read(fd, frame.get() + 40, size_t(count));
            if (n < 0) {
                ok = status(socket, packet, ReadError);
                break;
            }
            frameHeader(packet, OpData, size_t(n)).copy(frame.get(), 40);
            ok = socket.write(frame.get(), 40 + size_t(n));
            break;
        }
        case OpWrite: {
            auto it = openFile(8);
            if (it == files.end()) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            const size_t n = data.size() - 8;
            ok = status(socket, packet,
                        n == 0 || ::write(it->second, data.data() + 8, n) == ssize_t(n) ? Success
                                                                                        : WriteError);
            break;
        }
        case OpLock: {
            auto it = openFile(16);
            if (it == files.end()) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            const uint64_t operation = le64(reinterpret_cast<const unsigned char*>(data.data()) + 8);
            const int how = (operation & 8) ? LOCK_UN : (operation & 2) ? LOCK_EX : LOCK_SH;
            const int rc = flock(it->second, how | ((operation & 4) ? LOCK_NB : 0));
            ok = status(socket, packet, rc == 0 ? Success : errno == EWOULDBLOCK ? WouldBlock : InvalidArg);
            break;
        }
        case OpMakeDir: {
            if (!resolveDevicePath(root, cString(data, 0), false, path)) {
                ok = status(socket, packet, PermissionDenied);
                break;
            }
            ok = status(socket, packet,
                        mkdir(path.c_str(), 0755) == 0 || errno == EEXIST ? Success : PermissionDenied);
            break;
        }
        case OpClose: {
            auto it = openFile(8);
            if (it == files.end()) {
                ok = status(socket, packet, InvalidArg);
                break;
            }
            ::close(it->second);
            files.erase(it);
            ok = status(socket, packet, Success);
            break;
        }
        case OpRemove: {
            struct stat st
            {
            };
            if (!resolveDevicePath(root, cString(data, 0), false, path) || path == realPath(root)) {
                ok = status(socket, packet, PermissionDenied);
                break;
            }
            if (lstat(path.c_str(), &st) != 0) {
                ok = status(socket, packet, NotFound);
                break;
            }
            const int rc = S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str());
            ok = status(socket, packet,
                        rc == 0 ? Success : (errno == ENOTEMPTY ? DirNotEmpty : PermissionDenied));
            break;
        }
        default:
            ok = status(socket, packet, UnknownPacket);
            break;
        }
        if (!ok)
            break;
    }
    for (auto& f : files)
        ::close(f.second);
}
