#include "SimBackup.h"

#include "BackupFileName.h"
#include "BackupKeyBag.h"
#include "BackupManifest.h"
#include "FileUtils.h"
#include "ManifestDb.h"
#include "ManifestMbdb.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace {

QString rootValue(const SimDevice& device, const char* key)
{
    return QString::fromStdString(device.rootString(key));
}

bool currentSystem(const SimDevice& device)
{
    return device.majorVersion() >= 10;
}

MbdbString text(const QString& s)
{
    MbdbString m;
    m.setBytes(s.toUtf8());
    return m;
}

bool writePlist(const QString& path, plist_t value)
{
    const bool ok = writePlistFile(path.toStdString(), value);
    plist_free(value);
    return ok;
}

// A manifest path must stay inside its domain folder.
bool safeRelative(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

// Replaces `target` by `staging` in two renames; the old state stays whole until the swap.
bool swapIn(const QString& staging, const QString& target)
{
    const QString old = target + QStringLiteral(".old");
    removeDirectory(old);
    if (QFileInfo::exists(target) && !QDir().rename(target, old))
        return false;
    if (!QDir().rename(staging, target)) {
        QDir().rename(old, target);
        return false;
    }
    removeDirectory(old);
    return true;
}

QByteArray readBytes(const QString& path, bool* ok = nullptr)
{
    QFile f(path);
    const bool opened = f.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

// The phone's backup key bag, made once for its backup password ("BackupPassword") and kept while
// that password opens it. The rounds are the phone's own (switches "KeyBagRounds", DPIC, and
// "KeyBagIterations", ITER): 10,000,000 and 10,000 on current phones, fewer on test phones.
QString simKeyBag(const SimDevice& device, std::optional<BackupKeyBag>& bag)
{
    const QByteArray password = simBackupPassword(device);
    if (password.isEmpty())
        return QStringLiteral("the phone encrypts its backups and has no backup password");
    const QString path = QString::fromStdString(device.folder) + QStringLiteral("/backup-keybag");
    bool kept = false;
    const QByteArray bytes = readBytes(path, &kept);
    if (kept) {
        try {
            bag = BackupKeyBag::parse(bytes);
            if (bag->unlock(password))
                return QString();
        } catch (const std::exception&) {
        }
    }
    bag = BackupKeyBag::create(password, quint32(device.number("KeyBagRounds", 10000000)),
                               quint32(device.number("KeyBagIterations", 10000)));
    bag->unlock(password);
    return writeBytes(path, bag->bytes()) ? QString() : QStringLiteral("cannot keep the backup key bag");
}

bool willEncrypt(const SimDevice& device)
{
    plist_t value = device.copyValue("com.apple.mobile.backup", "WillEncrypt");
    uint8_t on = 0;
    if (value && plist_get_node_type(value) == PLIST_BOOLEAN)
        plist_get_bool_val(value, &on);
    if (value)
        plist_free(value);
    return on != 0;
}

// The phone shows its passcode prompt for that long; "PasscodePromptShown" is on meanwhile.
void showPasscodePrompt(const SimDevice& device, long long seconds,
                        const std::function<void(bool shown)>& prompt)
{
    device.setFlag("PasscodePromptShown", true);
    if (prompt)
        prompt(true);
    QThread::msleep(ulong(seconds * 1000));
    device.setFlag("PasscodePromptShown", false);
    if (prompt)
        prompt(false);
}

// The class whose key wraps the manifest's (Manifest.plist "ManifestKey").
constexpr quint32 manifestClass = 4;

} // namespace

bool simNeverBackedUp(const SimDevice& device, const QString& domain, const QString& path)
{
    auto under = [&path](const char* folder) {
        const QLatin1String f(folder);
        return path == f || path.startsWith(f + QLatin1Char('/'));
    };
    if (under("Library/Caches") || under("tmp"))
        return true;
    if (device.majorVersion() < 13 || willEncrypt(device))
        return false;
    // Only an encrypted backup holds the website history, the call history, Health data and the
    // saved passwords (the keychain).
    return domain == QLatin1String("HealthDomain") || domain == QLatin1String("KeychainDomain") ||
           (domain == QLatin1String("HomeDomain") &&
            (under("Library/CallHistoryDB") ||
             path.startsWith(QLatin1String("Library/Safari/History.db")))) ||
           (domain == QLatin1String("AppDomain-com.apple.mobilesafari") &&
            path.startsWith(QLatin1String("Library/Safari/History.db")));
}

QString writeSimBackup(const SimDevice& device, const QString& udid, const QDir& folder)
{
    const QDir files(QString::fromStdString(device.folder) + QStringLiteral("/files"));
    const bool modern = currentSystem(device);
    const auto format = modern ? BackupManifest::Format::Db : BackupManifest::Format::Mbdb;
    std::optional<BackupKeyBag> bag;
    if (willEncrypt(device)) {
        const QString problem = simKeyBag(device, bag);
        if (!problem.isEmpty())
            return problem;
    }
    ManifestMap manifest;
    quint64 inode = 1;
    for (const QString& domain : files.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir domainDir(files.absoluteFilePath(domain));
        QDirIterator it(domainDir.absolutePath(),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info(path);
            const QString relative = domainDir.relativeFilePath(path);
            if (simNeverBackedUp(device, domain, relative))
                continue;
            MbdbRecord r;
            r.domain = text(domain);
            r.path = text(relative);
            r.inode = inode++;
            r.userId = r.groupId = 501;
            r.modifiedTime = r.changedTime = r.createdTime = quint32(info.lastModified().toSecsSinceEpoch());
            r.protectionClass = 4;
            if (info.isSymLink()) {
                r.mode = 0120755;
                char target[4096];
                const ssize_t n = readlink(QFile::encodeName(path).constData(), target, sizeof target);
                r.linkTarget = text(n > 0 ? QFile::decodeName(QByteArray(target, int(n))) : QString());
            } else if (info.isDir()) {
                r.mode = 040755;
            } else {
                r.mode = 0100644;
                r.size = quint64(info.size());
                r.dataHash.setBytes(fileSha1(path));
                const QString copy = BackupManifest::backupFilePath(folder, r.fileName(), format);
                QDir().mkpath(QFileInfo(copy).absolutePath());
                if (bag) {
                    // Each file with its own key, wrapped by its class's key and kept in its record.
                    bool read = false;
                    const QByteArray plain = readBytes(path, &read);
                    // A file keeps its key from one backup to the next, as on the phone, so an
                    // incremental backup need not send it again.
                    const QByteArray key = QCryptographicHash::hash(
                        QByteArray(bag->bytes() + r.domain.bytes + '-' + r.path.bytes),
                        QCryptographicHash::Sha256);
                    r.encryptionKey.setBytes(bag->storedKey(r.protectionClass, key));
                    if (!read || !writeBytes(copy, BackupCipher::encrypt(key, plain)))
                        return QStringLiteral("cannot copy %1").arg(path);
                } else if (!QFile::copy(path, copy)) {
                    return QStringLiteral("cannot copy %1").arg(path);
                }
            }
            manifest.insert(r.fileName(), r);
        }
    }
    QByteArray manifestKey;
    try {
        const QString db = folder.filePath(QStringLiteral("Manifest.db"));
        if (modern)
            createManifestDb(db, manifest);
        else
            writeManifestMbdb(manifest, folder.filePath(QStringLiteral("Manifest.mbdb")));
        // Manifest.db is encrypted too, with the key "ManifestKey" keeps (from iOS 10.2);
        // Manifest.mbdb never was.
        if (bag && modern) {
            const QByteArray key = BackupCipher::randomBytes(32);
            manifestKey = bag->storedKey(manifestClass, key);
            bool read = false;
            const QByteArray plain = readBytes(db, &read);
            if (!read || !writeBytes(db, BackupCipher::encrypt(key, plain)))
                return QStringLiteral("cannot encrypt the manifest");
        }
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }

    const QByteArray id = udid.toUtf8();
    const QByteArray version = rootValue(device, "ProductVersion").toUtf8();
    plist_t infoPlist = plist_new_dict();
    plist_dict_set_item(infoPlist, "Device Name",
                        plist_new_string(rootValue(device, "DeviceName").toUtf8().constData()));
    plist_dict_set_item(infoPlist, "Product Type",
                        plist_new_string(rootValue(device, "ProductType").toUtf8().constData()));
    plist_dict_set_item(infoPlist, "Product Version", plist_new_string(version.constData()));
    plist_dict_set_item(infoPlist, "Target Identifier", plist_new_string(id.constData()));
    plist_dict_set_item(infoPlist, "Unique Identifier", plist_new_string(id.constData()));
    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "ProductVersion", plist_new_string(version.constData()));
    plist_dict_set_item(lockdown, "UniqueDeviceID", plist_new_string(id.constData()));
    plist_t manifestPlist = plist_new_dict();
    plist_dict_set_item(manifestPlist, "IsEncrypted", plist_new_bool(bag ? 1 : 0));
    if (bag) {
        const QByteArray bagBytes = bag->bytes();
        plist_dict_set_item(manifestPlist, "BackupKeyBag",
                            plist_new_data(bagBytes.constData(), uint64_t(bagBytes.size())));
        if (!manifestKey.isEmpty())
            plist_dict_set_item(manifestPlist, "ManifestKey",
                                plist_new_data(manifestKey.constData(), uint64_t(manifestKey.size())));
    }
    plist_dict_set_item(manifestPlist, "Lockdown", lockdown);
    plist_t status = plist_new_dict();
    plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
    plist_dict_set_item(status, "IsFullBackup", plist_new_bool(1));
    plist_dict_set_item(status, "Version", plist_new_string("2.4"));
    if (!writePlist(folder.filePath(QStringLiteral("Info.plist")), infoPlist) ||
        !writePlist(folder.filePath(QStringLiteral("Manifest.plist")), manifestPlist) ||
        !writePlist(folder.filePath(QStringLiteral("Status.plist")), status))
        return QStringLiteral("cannot write the backup's lists");
    return QString();
}

SimRefusal simBackupRefusal(const SimDevice& device, const std::function<void(bool shown)>& prompt)
{
    if (device.flag("SetupNotFinished"))
        return {212, QStringLiteral("Unable to backup until Setup is finished (MBErrorDomain/212)")};
    const QStringList version = rootValue(device, "ProductVersion").split(QLatin1Char('.'));
    const int major = version.value(0).toInt();
    const bool asksPasscode = major > 16 || (major == 16 && version.value(1).toInt() >= 1);
    const bool neverEntered = device.flag("PasscodeNotEntered");
    const long long seconds =
        neverEntered ? device.number("PasscodeWaitSeconds", 180) : device.number("PasscodePromptSeconds", 0);
    if (!asksPasscode || (!neverEntered && seconds <= 0))
        return {};
    showPasscodePrompt(device, seconds, prompt);
    if (neverEntered)
        return {208, QStringLiteral("Device locked (MBErrorDomain/208)")};
    return {};
}

SimRefusal simChangePassword(const SimDevice& device, const QByteArray& oldPassword,
                             const QByteArray& newPassword, const std::function<void(bool shown)>& prompt)
{
    const bool encrypted = willEncrypt(device);
    if (encrypted ? oldPassword != simBackupPassword(device)
                  : !oldPassword.isEmpty() || newPassword.isEmpty())
        return {207, QStringLiteral("Invalid password (MBErrorDomain/207)")};
    const long long seconds = device.number("PasscodePromptSeconds", 0);
    if (device.majorVersion() >= 13 && seconds > 0)
        showPasscodePrompt(device, seconds, prompt);
    const std::string values = device.folder + "/values.plist";
    plist_t all = readPlistFile(values);
    plist_t domains = all ? plist_dict_get_item(all, "Domains") : nullptr;
    if (!domains || plist_get_node_type(domains) != PLIST_DICT) {
        if (all)
            plist_free(all);
        return {1, QStringLiteral("the phone's values cannot be read (MBErrorDomain/1)")};
    }
    plist_t backup = plist_dict_get_item(domains, "com.apple.mobile.backup");
    if (!backup || plist_get_node_type(backup) != PLIST_DICT) {
        backup = plist_new_dict();
        plist_dict_set_item(domains, "com.apple.mobile.backup", backup);
    }
    plist_dict_set_item(backup, "WillEncrypt", plist_new_bool(newPassword.isEmpty() ? 0 : 1));
    writePlistFile(values, all);
    plist_free(all);
    device.setStrings("BackupPassword", newPassword.isEmpty()
                                            ? std::vector<std::string>()
                                            : std::vector<std::string>{newPassword.toStdString()});
    QFile::remove(QString::fromStdString(device.folder) + QStringLiteral("/backup-keybag"));
    return {};
}

long long simRestoreRoom(const SimDevice& device)
{
    const long long set = device.number("DeviceFreeBytes", -1);
    if (set >= 0)
        return set;
    plist_t available = device.copyValue("com.apple.disk_usage", "AmountDataAvailable");
    uint64_t value = 0;
    const bool known = available && plist_get_node_type(available) == PLIST_UINT;
    if (known)
        plist_get_uint_val(available, &value);
    if (available)
        plist_free(available);
    return known ? (long long)(value) : -1;
}

bool simAppDomain(const QString& domain)
{
    return domain.startsWith(QLatin1String("AppDomain-")) ||
           domain.startsWith(QLatin1String("AppDomainGroup-")) ||
           domain.startsWith(QLatin1String("AppDomainPlugin-"));
}

QByteArray simBackupPassword(const SimDevice& device)
{
    const std::vector<std::string> passwords = device.strings("BackupPassword");
    return passwords.empty() ? QByteArray() : QByteArray::fromStdString(passwords.front());
}

QString SimBackupReader::open(const QDir& backupDir, const QByteArray& password)
{
    m_dir = backupDir;
    m_wrongPassword = false;
    m_bag.reset();
    plist_t manifestPlist = readPlistFile(backupDir.filePath(QStringLiteral("Manifest.plist")).toStdString());
    auto data = [manifestPlist](const char* key) {
        plist_t node = manifestPlist ? plist_dict_get_item(manifestPlist, key) : nullptr;
        char* bytes = nullptr;
        uint64_t length = 0;
        if (node && plist_get_node_type(node) == PLIST_DATA)
            plist_get_data_val(node, &bytes, &length);
        const QByteArray out(bytes ? bytes : "", qsizetype(length));
        std::free(bytes);
        return out;
    };
    uint8_t encrypted = 0;
    if (plist_t node = manifestPlist ? plist_dict_get_item(manifestPlist, "IsEncrypted") : nullptr;
        node && plist_get_node_type(node) == PLIST_BOOLEAN)
        plist_get_bool_val(node, &encrypted);
    const QByteArray bagBytes = data("BackupKeyBag");
    const QByteArray manifestKey = data("ManifestKey");
    if (manifestPlist)
        plist_free(manifestPlist);

    BackupManifest manifest;
    QTemporaryDir scratch;
    try {
        if (encrypted) {
            m_bag = BackupKeyBag::parse(bagBytes);
            if (!m_bag->unlock(password)) {
                m_wrongPassword = true;
                return QStringLiteral("the password does not open the backup");
            }
        }
        if (!manifest.locate(backupDir))
            return QStringLiteral("the backup in %1 has no manifest").arg(backupDir.absolutePath());
        m_format = manifest.format();
        if (encrypted && m_format == BackupManifest::Format::Db) {
            bool ok = false;
            const QByteArray plain =
                BackupCipher::decrypt(m_bag->fileKey(manifestKey), readBytes(manifest.path()), &ok);
            if (!ok || !writeBytes(scratch.filePath(QStringLiteral("Manifest.db")), plain) ||
                !manifest.locate(QDir(scratch.path())))
                return QStringLiteral("the backup's manifest does not decrypt");
        }
        // Manifest.mbdb itself is never encrypted, only the files it lists.
        if (encrypted && m_format == BackupManifest::Format::Mbdb) {
            m_records = readManifestMbdb(manifest.path());
            return QString();
        }
        manifest.read();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    m_records = manifest.records();
    return QString();
}

bool SimBackupReader::content(const QString& name, QByteArray& bytes) const
{
    bool read = false;
    bytes = readBytes(filePath(name), &read);
    if (!read || !m_bag)
        return read;
    bool ok = false;
    bytes = BackupCipher::decrypt(m_bag->fileKey(m_records.value(name).encryptionKey.bytes), bytes, &ok);
    return ok;
}

QString restoreSimBackup(const SimDevice& device, const QDir& backupDir, const SimRestoreOptions& options,
                         const std::function<bool()>& stop)
{
    const bool removeNotRestored = options.removeNotRestored;
    SimBackupReader backup;
    const QString unreadable = backup.open(backupDir, options.password);
    if (!unreadable.isEmpty())
        return unreadable;
    const ManifestMap& manifest = backup.records();
    const QString deviceFolder = QString::fromStdString(device.folder);
    for (const QString& stale :
         QDir(deviceFolder).entryList({QStringLiteral("files.restoring-*")}, QDir::Dirs))
        removeDirectory(QDir(deviceFolder).absoluteFilePath(stale));
    const QDir staging(deviceFolder + QStringLiteral("/files.restoring-%1").arg(getpid()));
    // Without removal the phone keeps what the backup does not list: start from its files.
    if (!removeNotRestored) {
        QDirIterator it(deviceFolder + QStringLiteral("/files"),
                        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        const QDir files(deviceFolder + QStringLiteral("/files"));
        while (it.hasNext()) {
            const QString path = it.next();
            const QString target = staging.absoluteFilePath(files.relativeFilePath(path));
            if (it.fileInfo().isDir() && !it.fileInfo().isSymLink())
                QDir().mkpath(target);
            else if (QDir().mkpath(QFileInfo(target).absolutePath()))
                QFile::copy(path, target);
        }
    }
    QDir().mkpath(staging.absolutePath());
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        if (stop && stop()) {
            removeDirectory(staging.absolutePath());
            return QStringLiteral("the restore was stopped");
        }
        const MbdbRecord& r = it.value();
        const QString domain = r.domain.toText();
        const QString path = r.path.toText();
        if (!options.systemFiles && !simAppDomain(domain))
            continue;
        // A folder's own record may name the domain itself (an empty path).
        if (path.isEmpty() && (r.mode & 0170000) == 040000 && safeRelative(domain) &&
            !domain.contains(QLatin1Char('/'))) {
            QDir().mkpath(staging.absoluteFilePath(domain));
            continue;
        }
        if (!safeRelative(domain) || domain.contains(QLatin1Char('/')) || !safeRelative(path)) {
            removeDirectory(staging.absolutePath());
            return QStringLiteral("the backup lists a path outside its domain: %1-%2").arg(domain, path);
        }
        const QString target = staging.absoluteFilePath(domain + QLatin1Char('/') + path);
        if ((r.mode & 0170000) == 040000) {
            QDir().mkpath(target);
        } else if ((r.mode & 0170000) == 0120000) {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            QFile::link(r.linkTarget.toText(), target);
        } else {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            QByteArray bytes;
            if (!backup.content(it.key(), bytes) || !writeBytes(target, bytes)) {
                removeDirectory(staging.absolutePath());
                return QStringLiteral("the backup file %1 for %2-%3 is missing").arg(it.key(), domain, path);
            }
        }
    }
    if (!device.exists()) {
        removeDirectory(staging.absolutePath());
        return QStringLiteral("the device was disconnected during the restore.");
    }
    // A later restore replaces one still waiting for the restart.
    const QString pending = deviceFolder + QStringLiteral("/files.at-restart");
    removeDirectory(pending);
    device.setFlag("MigrationAtRestart", false);
    if (!QDir().rename(staging.absolutePath(), pending)) {
        removeDirectory(staging.absolutePath());
        return QStringLiteral("cannot keep the restored files");
    }
    device.setFlag("MigrationAtRestart", removeNotRestored);
    if (!options.atRestart && !simRestartPhone(device))
        return QStringLiteral("cannot put the restored files in place");
    return QString();
}

bool simRestartPhone(const SimDevice& device)
{
    const QString deviceFolder = QString::fromStdString(device.folder);
    const QString pending = deviceFolder + QStringLiteral("/files.at-restart");
    if (!QFileInfo(pending).isDir())
        return true;
    if (!swapIn(pending, deviceFolder + QStringLiteral("/files")))
        return false;
    // A migration: every app downloads again from the store, its container empty until then.
    if (device.flag("MigrationAtRestart")) {
        const QDir containers(deviceFolder + QStringLiteral("/containers"));
        for (const QString& app : containers.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            removeDirectory(containers.absoluteFilePath(app));
            QDir().mkpath(containers.absoluteFilePath(app));
        }
        device.setFlag("AppsAwaitingDownload", true);
        device.setFlag("MigrationAtRestart", false);
    }
    return true;
}
