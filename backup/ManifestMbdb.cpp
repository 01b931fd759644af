#include "ManifestMbdb.h"

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

// Reads the manifest in chunks; every read is checked against what the file still holds,
// so a length field never makes us allocate more than the file has.
class ChunkReader
{
public:
    ChunkReader(QFile& file, const QString& path) : m_file(file), m_path(path), m_remaining(file.size()) {}

    bool atEnd() const { return m_pos >= m_buffer.size() && m_remaining <= 0; }

    const char* take(qint64 n)
    {
        if (m_buffer.size() - m_pos < n)
            refill(n);
        const char* p = m_buffer.constData() + m_pos;
        m_pos += n;
        m_offset += n;
        return p;
    }

    quint8 u8() { return quint8(*take(1)); }
    quint16 u16()
    {
        auto p = reinterpret_cast<const uchar*>(take(2));
        return quint16(p[0] << 8 | p[1]);
    }
    quint32 u32()
    {
        auto p = reinterpret_cast<const uchar*>(take(4));
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
    }
    quint64 u64()
    {
        const quint64 high = u32();
        return high << 32 | u32();
    }

    MbdbString string()
    {
        MbdbString s;
        s.length = u16();
        if (s.isPresent())
            s.bytes = QByteArray(take(s.length), s.length);
        return s;
    }

private:
    void refill(qint64 n)
    {
        const qint64 left = m_buffer.size() - m_pos;
        if (left + m_remaining < n)
            fail(m_path, QStringLiteral("the manifest ends inside a record (offset %1)").arg(m_offset));
        QByteArray next = m_buffer.mid(m_pos);
        const qint64 want = std::min<qint64>(m_remaining, std::max<qint64>(n - left, chunk));
        const QByteArray more = m_file.read(want);
        if (more.size() != want)
            fail(m_path, m_file.errorString());
        m_remaining -= want;
        next.append(more);
        m_buffer = next;
        m_pos = 0;
    }

    static constexpr qint64 chunk = 1 << 20;
    QFile& m_file;
    QString m_path;
    qint64 m_remaining;
    QByteArray m_buffer;
    qint64 m_pos = 0;
    qint64 m_offset = 0;
};

// Records of one domain mostly follow each other and share one byte array for the domain.
class DomainReader
{
public:
    MbdbString read(ChunkReader& in)
    {
        MbdbString s;
        s.length = in.u16();
        if (!s.isPresent())
            return s;
        const char* bytes = in.take(s.length);
        if (m_last.size() == s.length && std::memcmp(m_last.constData(), bytes, s.length) == 0) {
            s.bytes = m_last;
        } else {
            s.bytes = QByteArray(bytes, s.length);
            m_last = s.bytes;
        }
        return s;
    }

private:
    QByteArray m_last;
};

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, file.errorString());
    ChunkReader in(file, path);
    DomainReader domains;
    ManifestMap map;
    // Records take at least 40 bytes; most take about 100, so this spares most rehashing.
    map.reserve(file.size() / 100);
    // An empty, cut or foreign file is no manifest: reading it as one would rewrite it as empty.
    if (file.size() < 6)
        fail(path, QStringLiteral("not a backup manifest (shorter than its 6-byte header)"));
    if (QByteArrayView(in.take(6), 4) != QByteArrayView("mbdb"))
        fail(path, QStringLiteral("not a backup manifest (it does not begin with \"mbdb\")"));
    while (!in.atEnd()) {
        MbdbRecord r;
        r.domain = domains.read(in);
        r.path = in.string();
        r.linkTarget = in.string();
        r.dataHash = in.string();
        r.encryptionKey = in.string();
        r.mode = in.u16();
        r.inode = in.u64();
        r.userId = in.u32();
        r.groupId = in.u32();
        r.modifiedTime = in.u32();
        r.changedTime = in.u32();
        r.createdTime = in.u32();
        r.size = in.u64();
        r.protectionClass = in.u8();
        const int count = in.u8();
        r.properties.reserve(count);
        for (int i = 0; i < count; ++i) {
            MbdbString key = in.string();
            MbdbString value = in.string();
            r.properties.append({key, value});
        }
        QString name = r.fileName();
        map.emplace(std::move(name), std::move(r));
    }
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
