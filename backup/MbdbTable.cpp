#include "MbdbTable.h"

#include "BackupFileName.h"
#include "ManifestMbdb.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& path, const QString& why)
{
    throw std::runtime_error(QStringLiteral("%1: %2").arg(path, why).toUtf8().toStdString());
}

// The first eight bytes of a name digest as a number: ordering by it orders by those bytes.
quint64 digestHead(const char* digest)
{
    quint64 head = 0;
    for (int k = 0; k < 8; ++k)
        head = head << 8 | uchar(digest[k]);
    return head;
}

// Walks the records of a manifest in memory with the checks of the manifest reader.
class Cursor
{
public:
    Cursor(const QByteArray& bytes, const QString& path) : m_bytes(bytes), m_path(path) {}

    qint64 pos = 0;

    const char* take(qint64 n)
    {
        if (m_bytes.size() - pos < n)
            fail(m_path, QStringLiteral("the manifest ends inside a record (offset %1)").arg(pos));
        const char* p = m_bytes.constData() + pos;
        pos += n;
        return p;
    }
    quint16 u16()
    {
        const auto* p = reinterpret_cast<const uchar*>(take(2));
        return quint16(p[0] << 8 | p[1]);
    }
    // A string field: its text bytes (up to the first zero), or none when absent or empty.
    QByteArrayView string()
    {
        const quint16 length = u16();
        if (length == 0 || length == MbdbString::absent)
            return QByteArrayView();
        return textUpToZero(QByteArrayView(take(length), length));
    }
    void skipString()
    {
        const quint16 length = u16();
        if (length != 0 && length != MbdbString::absent)
            take(length);
    }

private:
    const QByteArray& m_bytes;
    QString m_path;
};

// After the five strings: mode, inode, user, group, three times, size, protection class.
constexpr qint64 fixedBytes = 2 + 8 + 4 + 4 + 4 + 4 + 4 + 8 + 1;

int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

quint16 be16(const char* p)
{
    return quint16(uchar(p[0]) << 8 | uchar(p[1]));
}
quint32 be32(const char* p)
{
    return quint32(uchar(p[0])) << 24 | quint32(uchar(p[1])) << 16 | quint32(uchar(p[2])) << 8 | uchar(p[3]);
}
quint64 be64(const char* p)
{
    return quint64(be32(p)) << 32 | be32(p + 4);
}

} // namespace

void MbdbTable::read(const QString& path)
{
    m_path = path;
    m_entries.clear();
    m_byName.clear();
    m_heads.clear();
    m_replaced.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, file.errorString());
    // An empty, cut or foreign file is no manifest: reading it as one would rewrite it as empty.
    if (file.size() < 6)
        fail(path, QStringLiteral("not a backup manifest (shorter than its 6-byte header)"));
    m_bytes = file.readAll();
    if (m_bytes.size() != file.size())
        fail(path, file.errorString());
    if (!m_bytes.startsWith("mbdb"))
        fail(path, QStringLiteral("not a backup manifest (it does not begin with \"mbdb\")"));
    // Records take at least 40 bytes; most take about 100.
    m_entries.reserve(size_t(m_bytes.size() / 100));
    Cursor in(m_bytes, path);
    in.pos = 6;
    while (in.pos < m_bytes.size()) {
        Entry e;
        e.offset = in.pos;
        const QByteArrayView domain = in.string();
        const QByteArrayView relative = in.string();
        for (int i = 0; i < 3; ++i)
            in.skipString();
        in.take(fixedBytes);
        const int properties = uchar(*in.take(1));
        for (int i = 0; i < 2 * properties; ++i)
            in.skipString();
        if (in.pos - e.offset > qint64(std::numeric_limits<quint32>::max()))
            fail(path, QStringLiteral("a record is too long (offset %1)").arg(e.offset));
        e.length = quint32(in.pos - e.offset);
        backupFileDigest(domain, relative, e.digest);
        m_entries.push_back(e);
    }
    m_entries.shrink_to_fit();

    // By name, for look-ups; a name read twice keeps its last record, as a map would. The sort
    // runs on the digests' first eight bytes, with the whole digest only to settle a tie.
    std::vector<std::pair<quint64, quint32>> order(m_entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = {digestHead(m_entries[i].digest), quint32(i)};
    }
    const auto byDigest = [this](const std::pair<quint64, quint32>& a, const std::pair<quint64, quint32>& b) {
        if (a.first != b.first)
            return a.first < b.first;
        const int c = std::memcmp(m_entries[a.second].digest, m_entries[b.second].digest, 20);
        return c != 0 ? c < 0 : a.second < b.second;
    };
    std::sort(order.begin(), order.end(), byDigest);
    std::vector<quint32> unique;
    unique.reserve(order.size());
    std::vector<quint64> heads;
    heads.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const bool repeated =
            i + 1 < order.size() && order[i].first == order[i + 1].first &&
            std::memcmp(m_entries[order[i].second].digest, m_entries[order[i + 1].second].digest, 20) == 0;
        if (repeated)
            m_entries[order[i].second].live = false;
        else {
            unique.push_back(order[i].second);
            heads.push_back(order[i].first);
        }
    }
    m_byName.swap(unique);
    m_heads.swap(heads);
    m_live = qsizetype(m_byName.size());
}

void MbdbTable::keys(const Entry& e, QByteArrayView& domain, QByteArrayView& path) const
{
    Cursor in(m_bytes, m_path);
    in.pos = e.offset;
    domain = in.string();
    path = in.string();
}

std::vector<MbdbTable::Index> MbdbTable::select(const QList<RecordRule>& rules) const
{
    std::vector<Index> found;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_entries[i].live)
            continue;
        QByteArrayView domain;
        QByteArrayView path;
        keys(m_entries[i], domain, path);
        if (RecordRule::anyMatches(rules, domain, path))
            found.push_back(Index(i));
    }
    return found;
}

MbdbTable::Index MbdbTable::indexOf(const QString& name) const
{
    // 40 hex digits, lower or upper case.
    if (name.size() != 40)
        return -1;
    char digest[20];
    for (int k = 0; k < 20; ++k) {
        const int high = hexValue(name.at(2 * k).unicode());
        const int low = hexValue(name.at(2 * k + 1).unicode());
        if (high < 0 || low < 0)
            return -1;
        digest[k] = char(high << 4 | low);
    }
    const quint64 head = digestHead(digest);
    // Digests that share their first eight bytes follow each other, in digest order.
    for (auto it = std::lower_bound(m_heads.begin(), m_heads.end(), head); it != m_heads.end() && *it == head;
         ++it) {
        const quint32 entry = m_byName[size_t(it - m_heads.begin())];
        const int c = std::memcmp(m_entries[entry].digest, digest, 20);
        if (c == 0)
            return m_entries[entry].live ? Index(entry) : -1;
        if (c > 0)
            break;
    }
    return -1;
}

QString MbdbTable::name(Index i) const
{
    return backupFileNameOfDigest(QByteArrayView(m_entries[size_t(i)].digest, 20));
}

MbdbRecord MbdbTable::record(Index i) const
{
    const auto replaced = m_replaced.constFind(i);
    if (replaced != m_replaced.cend())
        return replaced.value();
    const Entry& e = m_entries[size_t(i)];
    const char* p = m_bytes.constData() + e.offset;
    auto string = [&p]() {
        MbdbString s;
        s.length = be16(p);
        p += 2;
        if (s.isPresent()) {
            s.bytes = QByteArray(p, s.length);
            p += s.length;
        }
        return s;
    };
    MbdbRecord r;
    r.domain = string();
    r.path = string();
    r.linkTarget = string();
    r.dataHash = string();
    r.encryptionKey = string();
    r.mode = be16(p);
    r.inode = be64(p + 2);
    r.userId = be32(p + 10);
    r.groupId = be32(p + 14);
    r.modifiedTime = be32(p + 18);
    r.changedTime = be32(p + 22);
    r.createdTime = be32(p + 26);
    r.size = be64(p + 30);
    r.protectionClass = quint8(p[38]);
    const int count = uchar(p[39]);
    p += fixedBytes + 1;
    r.properties.reserve(count);
    for (int k = 0; k < count; ++k) {
        MbdbString key = string();
        MbdbString value = string();
        r.properties.append({key, value});
    }
    return r;
}

void MbdbTable::remove(Index i)
{
    Entry& e = m_entries[size_t(i)];
    if (!e.live)
        return;
    e.live = false;
    m_replaced.remove(i);
    --m_live;
}

void MbdbTable::replace(Index i, const MbdbRecord& record)
{
    m_replaced.insert(i, record);
}

void MbdbTable::write(const QString& path) const
{
    std::vector<MbdbOutput> out;
    out.reserve(size_t(m_live));
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (!e.live)
            continue;
        MbdbOutput o;
        const auto replaced = m_replaced.constFind(Index(i));
        if (replaced != m_replaced.cend()) {
            o.record = &replaced.value();
            o.domain = o.record->domain.textBytes();
            o.path = o.record->path.textBytes();
        } else {
            keys(e, o.domain, o.path);
            o.bytes = QByteArrayView(m_bytes.constData() + e.offset, e.length);
        }
        out.push_back(o);
    }
    writeManifestMbdb(out, path);
}
