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
    ChunkWriter(QSaveFile& file, const QString& path) : m_file(file), m_path(path)
    {
        m_buffer.reserve(chunk + 70000);
    }

    void bytes(const char* data, qsizetype n)
    {
        m_buffer.append(data, n);
        if (m_buffer.size() >= chunk)
            flush();
    }
    void u8(quint8 v) { m_buffer.append(char(v)); }
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
        bytes(s.bytes.constData(), s.bytes.size());
    }
    void flush()
    {
        if (m_buffer.isEmpty())
            return;
        if (m_file.write(m_buffer) != m_buffer.size())
            fail(m_path, m_file.errorString());
        m_buffer.clear();
    }

private:
    static constexpr qsizetype chunk = 1 << 20;
    QSaveFile& m_file;
    QString m_path;
    QByteArray m_buffer;
};

void writeSorted(std::vector<const MbdbRecord*>& records, const QString& path)
{
    // ASCII keys compare as bytes (the same order as UTF-16 code units); others are decoded once.
    struct Keyed
    {
        QByteArrayView domain;
        QByteArrayView path;
        QString domainText;
        QString pathText;
        bool ascii;
        const MbdbRecord* record;
    };
    auto ascii = [](QByteArrayView b) {
        for (char c : b) {
            if (uchar(c) >= 0x80)
                return false;
        }
        return true;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(records.size());
    for (const MbdbRecord* r : records) {
        Keyed k{r->domain.textBytes(), r->path.textBytes(), {}, {}, true, r};
        k.ascii = ascii(k.domain) && ascii(k.path);
        if (!k.ascii) {
            k.domainText = r->domain.toText();
            k.pathText = r->path.toText();
        }
        keyed.push_back(std::move(k));
    }
    auto compare = [](const Keyed& a, const Keyed& b, bool domain) {
        if (a.ascii && b.ascii)
            return domain ? a.domain.compare(b.domain) : a.path.compare(b.path);
        const QString& at = domain ? (a.ascii ? QString::fromLatin1(a.domain) : a.domainText)
                                   : (a.ascii ? QString::fromLatin1(a.path) : a.pathText);
        const QString& bt = domain ? (b.ascii ? QString::fromLatin1(b.domain) : b.domainText)
                                   : (b.ascii ? QString::fromLatin1(b.path) : b.pathText);
        return QString::compare(at, bt, Qt::CaseSensitive);
    };
    std::stable_sort(keyed.begin(), keyed.end(), [&compare](const Keyed& a, const Keyed& b) {
        const int byDomain = compare(a, b, true);
        return byDomain != 0 ? byDomain < 0 : compare(a, b, false) < 0;
    });

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, file.errorString());
    ChunkWriter out(file, path);
    out.bytes("mbdb\x05\x00", 6);
    for (const Keyed& k : keyed) {
        const MbdbRecord& r = *k.record;
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
    if (!in.atEnd())
        in.take(std::min<qint64>(6, file.size())); // magic and version are not checked
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
    std::stable_sort(records.begin(), records.end(), mbdbRecordLessThan);
    std::vector<const MbdbRecord*> pointers;
    pointers.reserve(size_t(records.size()));
    for (const MbdbRecord& r : records)
        pointers.push_back(&r);
    writeSorted(pointers, path);
}

void writeManifestMbdb(const ManifestMap& records, const QString& path)
{
    std::vector<const MbdbRecord*> pointers;
    pointers.reserve(size_t(records.size()));
    for (const MbdbRecord& r : records)
        pointers.push_back(&r);
    writeSorted(pointers, path);
}
