#include "MbFileReader.h"

#include <cstring>
#include <optional>

namespace {

// The binary property list format: "bplist00", objects, a table of their offsets, and a 32-byte
// trailer giving the sizes of offsets and object references, the object count, the top object
// and where the offset table starts.
class BinaryPlist
{
public:
    explicit BinaryPlist(QByteArrayView bytes) : m_data(bytes) {}

    bool open()
    {
        if (m_data.size() < 8 + 32 || std::memcmp(m_data.data(), "bplist00", 8) != 0)
            return false;
        const qsizetype trailer = m_data.size() - 32;
        m_offsetSize = int(byteAt(trailer + 6));
        m_refSize = int(byteAt(trailer + 7));
        const quint64 count = number(trailer + 8, 8);
        m_top = number(trailer + 16, 8);
        m_table = number(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || count == 0 ||
            count > quint64(m_data.size()) || m_top >= count || m_table < 8 ||
            m_table + count * quint64(m_offsetSize) > quint64(trailer))
            return false;
        m_count = count;
        return true;
    }

    quint64 top() const { return m_top; }

    // Where an object starts; nullopt for a reference out of range.
    std::optional<qsizetype> offsetOf(quint64 object) const
    {
        if (object >= m_count)
            return std::nullopt;
        const quint64 at = number(qsizetype(m_table + object * quint64(m_offsetSize)), m_offsetSize);
        if (at < 8 || at >= m_table)
            return std::nullopt;
        return qsizetype(at);
    }

    struct Object
    {
        int type = -1;       // high nibble of the marker
        quint64 count = 0;   // elements, bytes or characters; the value of an integer or UID
        qsizetype start = 0; // first byte after the marker (and count)
    };

    // Decodes an object's marker; false for a kind this reader does not take.
    bool object(quint64 ref, Object& o) const
    {
        const auto at = offsetOf(ref);
        if (!at)
            return false;
        const uchar marker = byteAt(*at);
        o.type = marker >> 4;
        const int info = marker & 0x0f;
        o.start = *at + 1;
        switch (o.type) {
        case 0x1: // integer of 2^info bytes; 16-byte ones are left to libplist
        case 0x8: // UID of info + 1 bytes
        {
            const int n = o.type == 0x1 ? (1 << info) : info + 1;
            if (n > 8 || !fits(o.start, n))
                return false;
            o.count = number(o.start, n);
            // An 8-byte integer is signed; a negative one reads differently in libplist.
            return !(o.type == 0x1 && n == 8 && (o.count >> 63) != 0);
        }
        case 0x4: // data
        case 0x5: // ASCII string
        case 0xA: // array
        case 0xD: // dictionary
        {
            if (info != 0x0f) {
                o.count = quint64(info);
            } else {
                if (!fits(o.start, 1))
                    return false;
                const uchar intMarker = byteAt(o.start);
                if ((intMarker >> 4) != 0x1 || (intMarker & 0x0f) > 3)
                    return false;
                const int n = 1 << (intMarker & 0x0f);
                if (!fits(o.start + 1, n))
                    return false;
                o.count = number(o.start + 1, n);
                o.start += 1 + n;
            }
            const quint64 width = o.type == 0xA   ? quint64(m_refSize)
                                  : o.type == 0xD ? 2 * quint64(m_refSize)
                                                  : 1;
            return o.count <= quint64(m_data.size()) && fits(o.start, qsizetype(o.count * width));
        }
        default:
            return false;
        }
    }

    // The i-th reference of an array, the i-th key or value of a dictionary.
    quint64 ref(const Object& o, quint64 i) const
    {
        return number(o.start + qsizetype(i) * m_refSize, m_refSize);
    }

    QByteArrayView bytes(const Object& o) const { return m_data.sliced(o.start, qsizetype(o.count)); }

    // The values of a dictionary's keys given as ASCII, in one pass over its keys; false when a
    // key is of a kind this reader does not take (it might be one looked for) or comes twice. A
    // missing key gives no value.
    template <int N>
    bool lookUp(const Object& dict, const char* const (&keys)[N], std::optional<quint64> (&values)[N]) const
    {
        qsizetype lengths[N];
        for (int k = 0; k < N; ++k) {
            lengths[k] = qsizetype(std::strlen(keys[k]));
            values[k].reset();
        }
        for (quint64 i = 0; i < dict.count; ++i) {
            Object key;
            if (!object(ref(dict, i), key) || key.type != 0x5)
                return false;
            const QByteArrayView text = bytes(key);
            for (int k = 0; k < N; ++k) {
                if (text.size() != lengths[k] || std::memcmp(text.data(), keys[k], size_t(lengths[k])) != 0)
                    continue;
                if (values[k])
                    return false; // the same key twice: left to libplist
                values[k] = ref(dict, dict.count + i);
            }
        }
        return true;
    }

private:
    uchar byteAt(qsizetype at) const { return uchar(m_data[at]); }
    bool fits(qsizetype at, qsizetype n) const { return n >= 0 && at >= 0 && at + n <= m_data.size(); }
    quint64 number(qsizetype at, int n) const
    {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | byteAt(at + i);
        return v;
    }

    QByteArrayView m_data;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_top = 0;
    quint64 m_table = 0;
};

} // namespace

bool readMbFileQuickly(QByteArrayView archive, MbdbRecord& record)
{
    BinaryPlist plist(archive);
    if (!plist.open())
        return false;
    BinaryPlist::Object top;
    if (!plist.object(plist.top(), top) || top.type != 0xD)
        return false;
    std::optional<quint64> archiveRefs[2];
    if (!plist.lookUp(top, {"$objects", "$top"}, archiveRefs) || !archiveRefs[0] || !archiveRefs[1])
        return false;
    BinaryPlist::Object objects;
    BinaryPlist::Object topDict;
    if (!plist.object(*archiveRefs[0], objects) || objects.type != 0xA ||
        !plist.object(*archiveRefs[1], topDict) || topDict.type != 0xD)
        return false;
    std::optional<quint64> rootRef[1];
    BinaryPlist::Object rootUid;
    if (!plist.lookUp(topDict, {"root"}, rootRef) || !rootRef[0] || !plist.object(*rootRef[0], rootUid) ||
        rootUid.type != 0x8 || rootUid.count >= objects.count)
        return false;
    BinaryPlist::Object file;
    if (!plist.object(plist.ref(objects, rootUid.count), file) || file.type != 0xD)
        return false;

    enum Field
    {
        Size,
        Mode,
        Inode,
        User,
        Group,
        Modified,
        Changed,
        Born,
        Protection,
        Target,
        Digest,
        Key,
        Fields
    };
    std::optional<quint64> refs[Fields];
    if (!plist.lookUp(file,
                      {"Size", "Mode", "InodeNumber", "UserID", "GroupID", "LastModified", "LastStatusChange",
                       "Birth", "ProtectionClass", "Target", "Digest", "EncryptionKey"},
                      refs))
        return false;
    // Integers only: another kind (a real, say) is left to libplist, which converts it.
    quint64 numbers[Protection + 1];
    for (int k = Size; k <= Protection; ++k) {
        numbers[k] = 0;
        if (!refs[k])
            continue;
        BinaryPlist::Object value;
        if (!plist.object(*refs[k], value))
            return false;
        if (value.type == 0x1)
            numbers[k] = value.count;
    }
    // The object a UID-valued key refers to; a kind this reader does not take (a UTF-16 string
    // for the target) is left to libplist.
    auto referenced = [&](Field k, int type, std::optional<QByteArrayView>& out) {
        out.reset();
        if (!refs[k])
            return true;
        BinaryPlist::Object uid;
        if (!plist.object(*refs[k], uid))
            return false;
        if (uid.type != 0x8 || uid.count >= objects.count)
            return true;
        BinaryPlist::Object value;
        if (!plist.object(plist.ref(objects, uid.count), value))
            return false;
        if (value.type == type)
            out = plist.bytes(value);
        return true;
    };
    std::optional<QByteArrayView> target;
    std::optional<QByteArrayView> digest;
    if (!referenced(Target, 0x5, target) || !referenced(Digest, 0x4, digest))
        return false;
    // An encrypted backup's file key: an NSMutableData object, its bytes under "NS.data"; any
    // other shape is left to libplist.
    std::optional<QByteArrayView> key;
    if (refs[Key]) {
        BinaryPlist::Object uid;
        BinaryPlist::Object data;
        std::optional<quint64> dataRef[1];
        BinaryPlist::Object value;
        if (!plist.object(*refs[Key], uid) || uid.type != 0x8 || uid.count >= objects.count ||
            !plist.object(plist.ref(objects, uid.count), data) || data.type != 0xD ||
            !plist.lookUp(data, {"NS.data"}, dataRef) || !dataRef[0] || !plist.object(*dataRef[0], value) ||
            value.type != 0x4)
            return false;
        key = plist.bytes(value);
    }
    const quint64 size = numbers[Size], mode = numbers[Mode], inode = numbers[Inode], user = numbers[User],
                  group = numbers[Group], modified = numbers[Modified], changed = numbers[Changed],
                  born = numbers[Born], protection = numbers[Protection];
    record.size = size;
    record.mode = quint16(mode);
    record.inode = inode;
    record.userId = quint32(user);
    record.groupId = quint32(group);
    record.modifiedTime = quint32(modified);
    record.changedTime = quint32(changed);
    record.createdTime = quint32(born);
    record.protectionClass = quint8(protection);
    // libplist keeps a string up to its first zero byte.
    if (target)
        record.linkTarget.setBytes(textUpToZero(*target).toByteArray());
    if (digest)
        record.dataHash.setBytes(digest->toByteArray());
    if (key)
        record.encryptionKey.setBytes(key->toByteArray());
    return true;
}
