#include "BackupManifest.h"

#include "BackupEncryption.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"
#include "SqliteFiles.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

BackupManifest::BackupManifest() = default;

BackupManifest::~BackupManifest()
{
    m_reader.reset();
    removePlainCopy();
}

void BackupManifest::setEncryption(std::shared_ptr<const BackupEncryption> encryption)
{
    m_encryption = std::move(encryption);
}

void BackupManifest::removePlainCopy()
{
    if (!m_plainPath.isEmpty())
        SqliteFiles::removeWithSideFiles(m_plainPath);
    m_plainPath.clear();
}

QString BackupManifest::databasePath()
{
    if (!m_encryption || m_encryption->manifestKey().isEmpty())
        return m_path;
    if (m_plainPath.isEmpty()) {
        // Beside the manifest, in the backup folder, and only while this edit needs it.
        const QString plain = m_path + QStringLiteral(".decrypted");
        SqliteFiles::removeWithSideFiles(plain);
        if (!m_encryption->decrypt(m_encryption->manifestKey(), m_path, plain,
                                   [this] { return m_interrupted && m_interrupted(); }))
            throw std::runtime_error("cancelled while the manifest was decrypted");
        m_plainPath = plain;
    }
    return m_plainPath;
}

bool BackupManifest::locate(const QDir& backupDir)
{
    m_dir = backupDir;
    const QString mbdb = backupDir.absoluteFilePath(QStringLiteral("Manifest.mbdb"));
    const QString db = backupDir.absoluteFilePath(QStringLiteral("Manifest.db"));
    if (QFileInfo::exists(mbdb)) {
        m_path = mbdb;
        m_format = Format::Mbdb;
        return true;
    }
    m_path = mbdb;
    if (!QFileInfo::exists(db))
        return false;
    m_path = db;
    m_format = Format::Db;
    return true;
}

void BackupManifest::start()
{
    // The files of an encrypted backup cannot be edited (its Manifest.db is not even a database):
    // nothing is counted or written for it.
    if ((!m_encryption || !m_encryption->isUnlocked()) && BackupEncryption::isEncrypted(m_dir))
        throw std::runtime_error(encryptedBackupText(m_path).toUtf8().toStdString());
    m_open = false;
    m_records.clear();
    m_readNames.clear();
    m_refreshed.clear();
    m_reader.reset();
    removePlainCopy();
    m_table = MbdbTable();
    m_rows.clear();
    m_rowIndex.clear();
    m_removed.clear();
    m_dropped.clear();
    m_replaced.clear();
    m_originals.clear();
}

void BackupManifest::open()
{
    start();
    if (m_format == Format::Mbdb) {
        m_table.read(m_path);
        m_mode = Mode::Bytes;
    } else {
        reader();
        m_mode = Mode::Rows;
    }
    m_open = true;
}

void BackupManifest::read()
{
    start();
    m_mode = Mode::Map;
    if (m_format == Format::Mbdb) {
        m_records = readManifestMbdb(m_path);
    } else {
        reader().all([this](const QString& name, MbdbRecord& r) {
            m_readNames.insert(name);
            m_records.insert(name, std::move(r));
        });
    }
    m_open = true;
}

ManifestDbReader& BackupManifest::reader()
{
    if (!m_reader) {
        m_reader = std::make_unique<ManifestDbReader>(databasePath());
        m_reader->setInterrupt([this] { return m_interrupted && m_interrupted(); });
    }
    return *m_reader;
}

void BackupManifest::take(const QString& name, MbdbRecord& record)
{
    // A row asked for again keeps what was done to it (removed, refreshed).
    if (m_rowIndex.contains(name))
        return;
    m_rowIndex.insert(name, qsizetype(m_rows.size()));
    m_rows.push_back(std::move(record));
}

qsizetype BackupManifest::rowOf(const QString& name)
{
    if (!m_rowIndex.contains(name))
        load({name});
    const qsizetype row = m_rowIndex.value(name, -1);
    return row >= 0 && !m_removed.contains(name) ? row : -1;
}

QStringList BackupManifest::select(const QList<RecordRule>& rules)
{
    QStringList names;
    switch (m_mode) {
    case Mode::Bytes:
        for (const MbdbTable::Index i : m_table.select(rules))
            names << m_table.name(i);
        break;
    case Mode::Map:
        for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
            if (RecordRule::anyMatches(rules, it->domain.textBytes(), it->path.textBytes()))
                names << it.key();
        }
        break;
    case Mode::Rows:
        reader().select(rules, [this, &names](const QString& name, MbdbRecord& r) {
            take(name, r);
            if (!m_removed.contains(name))
                names << name;
        });
        break;
    }
    return names;
}

void BackupManifest::load(const QStringList& names)
{
    if (m_mode != Mode::Rows)
        return;
    QStringList missing;
    for (const QString& name : names) {
        if (!m_rowIndex.contains(name))
            missing << name;
    }
    reader().byNames(missing, [this](const QString& name, MbdbRecord& r) { take(name, r); });
}

bool BackupManifest::contains(const QString& name)
{
    switch (m_mode) {
    case Mode::Bytes:
        return m_table.indexOf(name) >= 0;
    case Mode::Rows:
        return rowOf(name) >= 0;
    case Mode::Map:
        break;
    }
    return m_records.contains(name);
}

MbdbRecord BackupManifest::record(const QString& name)
{
    switch (m_mode) {
    case Mode::Bytes: {
        const MbdbTable::Index i = m_table.indexOf(name);
        return i >= 0 ? m_table.record(i) : MbdbRecord();
    }
    case Mode::Rows: {
        const qsizetype row = rowOf(name);
        return row >= 0 ? m_rows[size_t(row)] : MbdbRecord();
    }
    case Mode::Map:
        break;
    }
    return m_records.value(name);
}

void BackupManifest::remove(const QString& name)
{
    m_replaced.remove(name);
    switch (m_mode) {
    case Mode::Bytes: {
        const MbdbTable::Index i = m_table.indexOf(name);
        if (i >= 0) {
            m_dropped.insert(name, m_table.record(i));
            m_table.remove(i);
        }
        return;
    }
    case Mode::Rows: {
        const qsizetype row = rowOf(name);
        if (row >= 0) {
            m_dropped.insert(name, m_rows[size_t(row)]);
            m_removed.insert(name);
        }
        return;
    }
    case Mode::Map:
        break;
    }
    if (m_records.contains(name))
        m_dropped.insert(name, m_records.take(name));
}

void BackupManifest::refresh(const QString& name, const MbdbRecord& record)
{
    switch (m_mode) {
    case Mode::Bytes: {
        const MbdbTable::Index i = m_table.indexOf(name);
        if (i >= 0) {
            if (!m_originals.contains(name))
                m_originals.insert(name, m_table.record(i));
            m_table.replace(i, record);
            m_replaced.insert(name, record);
        }
        return;
    }
    case Mode::Rows: {
        const qsizetype row = rowOf(name);
        if (row >= 0) {
            if (!m_originals.contains(name))
                m_originals.insert(name, m_rows[size_t(row)]);
            m_rows[size_t(row)] = record;
            m_refreshed.insert(name);
            m_replaced.insert(name, record);
        }
        return;
    }
    case Mode::Map:
        break;
    }
    if (m_records.contains(name)) {
        if (!m_originals.contains(name))
            m_originals.insert(name, m_records.value(name));
        m_records.insert(name, record);
        m_refreshed.insert(name);
        m_replaced.insert(name, record);
    }
}

void BackupManifest::write()
{
    if (m_mode == Mode::Bytes) {
        m_table.write(m_path);
        return;
    }
    if (m_format == Format::Mbdb) {
        writeManifestMbdb(m_records, m_path);
        return;
    }
    // The reader's copy of the manifest goes first; the file itself is written.
    m_reader.reset();
    QSet<QString> removed = m_removed;
    for (const QString& name : std::as_const(m_readNames)) {
        if (!m_records.contains(name))
            removed.insert(name);
    }
    ManifestMap refreshed;
    for (const QString& name : std::as_const(m_refreshed)) {
        if (m_mode == Mode::Rows) {
            const qsizetype row = m_rowIndex.value(name, -1);
            if (row >= 0 && !m_removed.contains(name))
                refreshed.insert(name, m_rows[size_t(row)]);
        } else if (m_records.contains(name)) {
            refreshed.insert(name, m_records.value(name));
        }
    }
    updateManifestDb(databasePath(), removed, refreshed);
    if (m_path != databasePath())
        m_encryption->encrypt(m_encryption->manifestKey(), databasePath(), m_path);
}

QString BackupManifest::encryptedBackupText(const QString& manifestPath)
{
    return QStringLiteral("%1: the backup is encrypted, and without its backup password it cannot be "
                          "read or edited.")
        .arg(manifestPath);
}

QString BackupManifest::backupFilePath(const QDir& backupDir, const QString& name, Format format)
{
    return format == Format::Mbdb ? backupDir.absoluteFilePath(name)
                                  : backupDir.absoluteFilePath(name.left(2) + QLatin1Char('/') + name);
}
