#pragma once

#include "MbdbRecord.h"
#include "RecordRule.h"

#include <QByteArray>
#include <QHash>

#include <vector>

// Manifest.mbdb held as the bytes of its file: each record is known by where it lies in them and
// by its name, and is decoded only when asked for. Unchanged records are written back as they
// were read: the file is what writeManifestMbdb writes for the same records. A name read twice
// keeps its last record. readManifestMbdb decodes all of them into a map.
class MbdbTable
{
public:
    using Index = qsizetype;

    // Throws std::runtime_error naming the file, as readManifestMbdb.
    void read(const QString& path);
    qsizetype size() const { return m_live; }

    // The records a rule matches, in file order.
    std::vector<Index> select(const QList<RecordRule>& rules) const;
    // Every record, in file order.
    template <class Visit> void forEach(const Visit& visit) const
    {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].live)
                visit(Index(i));
        }
    }
    // -1 when the manifest has no such record (or it was removed).
    Index indexOf(const QString& name) const;
    QString name(Index i) const;
    MbdbRecord record(Index i) const;
    void remove(Index i);
    // A record that now says something else (its file was replaced).
    void replace(Index i, const MbdbRecord& record);

    // Throws std::runtime_error; a failure leaves the file as it was.
    void write(const QString& path) const;

private:
    struct Entry
    {
        qint64 offset = 0;
        quint32 length = 0;
        bool live = true;
        char digest[20];
    };
    // The text of a record's domain and path, as MbdbString::textBytes gives it.
    void keys(const Entry& e, QByteArrayView& domain, QByteArrayView& path) const;

    QString m_path;
    QByteArray m_bytes;
    std::vector<Entry> m_entries;
    std::vector<quint32> m_byName; // live entries, ordered by digest
    // The first eight bytes of each of those digests, in the same order: a look-up searches this
    // one small array instead of reaching into the entries at every step.
    std::vector<quint64> m_heads;
    QHash<Index, MbdbRecord> m_replaced;
    qsizetype m_live = 0;
};
