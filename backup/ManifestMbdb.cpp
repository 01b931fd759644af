#include "ManifestMbdb.h"

#include "MbdbTable.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, why).toUtf8().toStdString());
}

class ChunkWriter
{
public:
    ChunkWriter(QSaveFile& file, const QString& path) : m_file(file), m_path(path), m_buffer(chunk) {}

    void bytes(const char* data, size_t n)
    {
        if (m_used + n > m_buffer.size()) {
            flush();
            if (n > m_buffer.size())
                m_buffer.resize(n);
        }
        std::memcpy(m_buffer.data() + m_used, data, n);
        m_used += n;
    }
    void u8(quint8 v)
    {
        const char b = char(v);
        bytes(&b, 1);
    }
    void u16(quint16 v)
    {
        const char b[2] = {char(v >> 8), char(v)};
        bytes(b, 2);
    }
    void u32(quint32 v)
    {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        bytes(b, 4);
    }
    void u64(quint64 v)
    {
        u32(quint32(v >> 32));
        u32(quint32(v));
    }
    void string(const MbdbString& s)
    {
        u16(s.length);
        if (!s.isPresent())
            return;
        if (s.bytes.size() != s.length)
            fail(m_path, QStringLiteral("a string holds %1 bytes but its length says %2")
                             .arg(s.bytes.size())
                             .arg(s.length));
        bytes(s.bytes.constData(), size_t(s.bytes.size()));
    }
    void flush()
    {
        if (m_used == 0)
            return;
        if (m_file.write(m_buffer.data(), qint64(m_used)) != qint64(m_used))
            fail(m_path, m_file.errorString());
        m_used = 0;
    }

private:
    static constexpr size_t chunk = 1 << 20;
    QSaveFile& m_file;
    QString m_path;
    std::vector<char> m_buffer;
    size_t m_used = 0;
};

struct Keyed
{
    MbdbOutput out;
    quint32 index;
    bool ascii;
};

void writeSorted(std::vector<Keyed>& keyed, const QString& path)
{
    // Sort keys are the stored bytes: for ASCII text their order is the order of UTF-16 code
    // units. Only a record with other bytes is compared as decoded text.
    auto compareField = [](QByteArrayView a, QByteArrayView b, bool bytes) {
        if (bytes) {
            // An absent string has no bytes at all, and memcmp must not see its null pointer.
            const size_t common = size_t(std::min(a.size(), b.size()));
            const int c = common ? std::memcmp(a.data(), b.data(), common) : 0;
            return c != 0 ? c : (a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0));
        }
        return QString::compare(QString::fromUtf8(a), QString::fromUtf8(b), Qt::CaseSensitive);
    };
    auto less = [&compareField](const Keyed& a, const Keyed& b) {
        const bool bytes = a.ascii && b.ascii;
        int c = compareField(a.out.domain, b.out.domain, bytes);
        if (c == 0)
            c = compareField(a.out.path, b.out.path, bytes);
        return c != 0 ? c < 0 : a.index < b.index;
    };
    // A manifest read in order is mostly written back in order: no sort then.
    if (!std::is_sorted(keyed.begin(), keyed.end(), less))
        std::sort(keyed.begin(), keyed.end(), less);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, file.errorString());
    ChunkWriter out(file, path);
    out.bytes("mbdb\x05\x00", 6);
    for (const Keyed& k : keyed) {
        if (!k.out.record) {
            out.bytes(k.out.bytes.data(), size_t(k.out.bytes.size()));
            continue;
        }
        const MbdbRecord& r = *k.out.record;
        out.string(r.domain);
        out.string(r.path);
        out.string(r.linkTarget);
        out.string(r.dataHash);
        out.string(r.encryptionKey);
        out.u16(r.mode);
        out.u64(r.inode);
        out.u32(r.userId);
        out.u32(r.groupId);
        out.u32(r.modifiedTime);
        out.u32(r.changedTime);
        out.u32(r.createdTime);
        out.u64(r.size);
        out.u8(r.protectionClass);
        if (r.properties.size() > 255)
            fail(path, QStringLiteral("a record has more than 255 properties"));
        out.u8(quint8(r.properties.size()));
        for (const auto& property : r.properties) {
            out.string(property.first);
            out.string(property.second);
        }
    }
    out.flush();
    if (!file.commit())
        fail(path, file.errorString());
}

void writeRecords(const std::vector<const MbdbRecord*>& records, const QString& path)
{
    std::vector<Keyed> keyed;
    keyed.reserve(records.size());
    for (const MbdbRecord* r : records) {
        Keyed k{{r->domain.textBytes(), r->path.textBytes(), r, {}}, quint32(keyed.size()), true};
        k.ascii = isAsciiBytes(k.out.domain) && isAsciiBytes(k.out.path);
        keyed.push_back(k);
    }
    writeSorted(keyed, path);
}

} // namespace

ManifestMap readManifestMbdb(const QString& path)
{
    MbdbTable table;
    table.read(path);
    ManifestMap map;
    map.reserve(table.size());
    table.forEach([&map, &table](MbdbTable::Index i) { map.insert(table.name(i), table.record(i)); });
    return map;
}

void writeManifestMbdb(QList<MbdbRecord>& records, const QString& path)
{
    std::stable_sort(records.begin(), records.end(), mbdbRecordLessThan); // the caller sees its list sorted
    std::vector<const MbdbRecord*> pointers;
    pointers.reserve(size_t(records.size()));
    for (const MbdbRecord& r : records)
        pointers.push_back(&r);
    writeRecords(pointers, path);
}

void writeManifestMbdb(const ManifestMap& records, const QString& path)
{
    std::vector<const MbdbRecord*> pointers;
    pointers.reserve(size_t(records.size()));
    for (const MbdbRecord& r : records)
        pointers.push_back(&r);
    writeRecords(pointers, path);
}

void writeManifestMbdb(std::vector<MbdbOutput>& records, const QString& path)
{
    std::vector<Keyed> keyed;
    keyed.reserve(records.size());
    for (const MbdbOutput& r : records)
        keyed.push_back({r, quint32(keyed.size()), isAsciiBytes(r.domain) && isAsciiBytes(r.path)});
    records.clear();
    records.shrink_to_fit();
    writeSorted(keyed, path);
}
