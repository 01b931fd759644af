// The phone's side of idevicebackup2 1.3.0 (tools/idevicebackup2.c, src/mobilebackup2.c,
// src/device_link_service.c), nothing more: what the tool sends is answered as those sources
// expect, and the phone drives the transfer with the DeviceLink messages the tool handles.
//
// DeviceLink: the phone opens with ["DLMessageVersionExchange", 300, 0], the host answers
// "DLVersionsOk" and the phone says ["DLMessageDeviceReady"]. Requests come as
// ["DLMessageProcessMessage", {MessageName...}] ("Hello", "Backup", "Restore", "ChangePassword"); the
// phone then sends DL messages that the host answers with ["DLMessageStatusResponse", code, text,
// value], and ends with ["DLMessageProcessMessage", {ErrorCode, ErrorDescription}]. Files go as raw
// streams: per file a 4-byte big-endian length and a name (two names when the phone sends), then
// blocks of a 4-byte length and a code byte (0x0c data, 0x00 done, 0x06 error), and a zero length
// after the last file. Refusals carry the texts phones give ("... (MBErrorDomain/211)").
//
// Switches of the phone: "BackupSeconds" (time a transfer takes), "BackupError" (a backup fails
// with this text), "FindMyIPhone" (a restore is refused); a restore larger than the phone's free space is
// refused (simRestoreRoom). A restore asked to reboot ("RestoreShouldReboot" not false) makes the phone go
// away and come back ("RebootingUntilMs"); without it the files wait for a restart (simRestartPhone).
#include "EmulatedBackupService.h"

#include "BackupManifest.h"
#include "PlistString.h"
#include "SimBackup.h"
#include "SimServices.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <poll.h>
#include <set>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char codeSuccess = 0x00;
constexpr char codeErrorLocal = 0x06;
constexpr char codeFileData = 0x0c;
constexpr qint64 blockSize = 64 * 1024;

bool sendMessage(SimSocket& socket, plist_t message)
{
    const bool ok = socket.writeMessage(message, true);
    plist_free(message);
    return ok;
}

plist_t dlMessage(const char* name)
{
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_string(name));
    return array;
}

std::string messageName(plist_t message)
{
    if (!message || plist_get_node_type(message) != PLIST_ARRAY || plist_array_get_size(message) < 1)
        return {};
    return plistString(plist_array_get_item(message, 0));
}

// The final answer to a request: its error code, and a description when it failed.
bool finish(SimSocket& socket, uint64_t code, const QString& description = QString())
{
    plist_t result = plist_new_dict();
    plist_dict_set_item(result, "ErrorCode", plist_new_uint(code));
    if (!description.isEmpty())
        plist_dict_set_item(result, "ErrorDescription", plist_new_string(description.toUtf8().constData()));
    plist_t message = dlMessage("DLMessageProcessMessage");
    plist_array_append_item(message, result);
    return sendMessage(socket, message);
}

// The host's ["DLMessageStatusResponse", code, text, value]; false when none came.
bool readStatus(SimSocket& socket, int64_t& code, uint64_t* number = nullptr)
{
    plist_t reply = socket.readMessage();
    const bool ok = messageName(reply) == "DLMessageStatusResponse" && plist_array_get_size(reply) >= 2;
    if (ok) {
        uint64_t value = 0;
        plist_get_uint_val(plist_array_get_item(reply, 1), &value);
        code = int64_t(value);
        if (number && plist_array_get_size(reply) >= 4)
            plist_get_uint_val(plist_array_get_item(reply, 3), number);
    }
    if (reply)
        plist_free(reply);
    return ok;
}

bool writeBe32(SimSocket& socket, uint32_t value)
{
    const unsigned char b[4] = {uchar(value >> 24), uchar(value >> 16), uchar(value >> 8), uchar(value)};
    return socket.write(b, 4);
}

bool readBe32(SimSocket& socket, uint32_t& value)
{
    unsigned char b[4];
    if (!socket.readExact(b, 4))
        return false;
    value = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return true;
}

bool writeName(SimSocket& socket, const QByteArray& name)
{
    return writeBe32(socket, uint32_t(name.size())) && socket.write(name.constData(), size_t(name.size()));
}

// A request that needs only the host's status.
bool simpleRequest(SimSocket& socket, const char* name, const QString& argument)
{
    plist_t message = dlMessage(name);
    plist_array_append_item(message, plist_new_string(argument.toUtf8().constData()));
    int64_t code = -1;
    return sendMessage(socket, message) && readStatus(socket, code) && code == 0;
}

// DLContentsOfDirectory: the names in one folder of the host's backup directory.
QStringList listDirectory(SimSocket& socket, const QString& folder)
{
    plist_t message = dlMessage("DLContentsOfDirectory");
    plist_array_append_item(message, plist_new_string(folder.toUtf8().constData()));
    QStringList names;
    if (!sendMessage(socket, message))
        return names;
    plist_t reply = socket.readMessage();
    plist_t listing = messageName(reply) == "DLMessageStatusResponse" && plist_array_get_size(reply) >= 4
                          ? plist_array_get_item(reply, 3)
                          : nullptr;
    if (listing && plist_get_node_type(listing) == PLIST_DICT) {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(listing, &iter);
        char* key = nullptr;
        plist_t value = nullptr;
        for (plist_dict_next_item(listing, iter, &key, &value); key;
             plist_dict_next_item(listing, iter, &key, &value)) {
            names << QString::fromUtf8(key);
            std::free(key);
            key = nullptr;
        }
        std::free(iter);
    }
    if (reply)
        plist_free(reply);
    return names;
}

// DLMessageMoveItems {from: to} and DLMessageRemoveItems [paths]: the overall progress goes last.
bool moveItems(SimSocket& socket, const QMap<QString, QString>& moves, double progress)
{
    plist_t message = dlMessage("DLMessageMoveItems");
    plist_t items = plist_new_dict();
    for (auto it = moves.cbegin(); it != moves.cend(); ++it)
        plist_dict_set_item(items, it.key().toUtf8().constData(),
                            plist_new_string(it.value().toUtf8().constData()));
    plist_array_append_item(message, items);
    plist_array_append_item(message, plist_new_dict());
    plist_array_append_item(message, plist_new_real(progress));
    int64_t code = -1;
    return sendMessage(socket, message) && readStatus(socket, code) && code == 0;
}

bool removeItems(SimSocket& socket, const QStringList& paths, double progress)
{
    plist_t message = dlMessage("DLMessageRemoveItems");
    plist_t items = plist_new_array();
    for (const QString& path : paths)
        plist_array_append_item(items, plist_new_string(path.toUtf8().constData()));
    plist_array_append_item(message, items);
    plist_array_append_item(message, plist_new_dict());
    plist_array_append_item(message, plist_new_real(progress));
    int64_t code = -1;
    return sendMessage(socket, message) && readStatus(socket, code) && code == 0;
}

// Spreads the device's "BackupSeconds" over the steps of a transfer.
void pace(const SimDevice& device, int steps)
{
    const long long seconds = device.number("BackupSeconds", 0);
    if (seconds > 0 && steps > 0)
        QThread::msleep(ulong(seconds * 1000 / steps));
}

struct Upload
{
    QString remote;   // the host's path below its backup folder
    QString local;    // the file to send, or
    QByteArray bytes; // its content
};

// One DLMessageUploadFiles: the files, then the host's status.
bool uploadFiles(SimSocket& socket, const QList<Upload>& files, double progress, quint64 total)
{
    plist_t message = dlMessage("DLMessageUploadFiles");
    plist_array_append_item(message, plist_new_dict());
    plist_array_append_item(message, plist_new_real(progress));
    plist_array_append_item(message, plist_new_uint(total));
    if (!sendMessage(socket, message))
        return false;
    for (const Upload& file : files) {
        const QByteArray name = file.remote.toUtf8();
        if (!writeName(socket, name) || !writeName(socket, name))
            return false;
        QByteArray content = file.bytes;
        if (!file.local.isEmpty()) {
            QFile f(file.local);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            content = f.readAll();
        }
        for (qint64 at = 0; at < content.size(); at += blockSize) {
            const qint64 n = qMin(blockSize, content.size() - at);
            if (!writeBe32(socket, uint32_t(n + 1)) || !socket.write(&codeFileData, 1) ||
                !socket.write(content.constData() + at, size_t(n)))
                return false;
        }
        if (!writeBe32(socket, 1) || !socket.write(&codeSuccess, 1))
            return false;
    }
    int64_t code = -1;
    return writeBe32(socket, 0) && readStatus(socket, code) && code == 0;
}

// One DLMessageDownloadFiles: the host sends each file or an error for it. `into` receives them
// under their path less the first part (the backup's folder name); `missing` the ones it lacked.
bool downloadFiles(SimSocket& socket, const QStringList& remote, const QDir& into, double progress,
                   QStringList& missing)
{
    plist_t message = dlMessage("DLMessageDownloadFiles");
    plist_t paths = plist_new_array();
    for (const QString& path : remote)
        plist_array_append_item(paths, plist_new_string(path.toUtf8().constData()));
    plist_array_append_item(message, paths);
    plist_array_append_item(message, plist_new_dict());
    plist_array_append_item(message, plist_new_real(progress));
    if (!sendMessage(socket, message))
        return false;
    for (;;) {
        uint32_t length = 0;
        if (!readBe32(socket, length))
            return false;
        if (length == 0)
            break;
        if (length > 4096)
            return false;
        QByteArray name(int(length), '\0');
        if (!socket.readExact(name.data(), length))
            return false;
        const QString path = QString::fromUtf8(name);
        const QString local = into.filePath(path.section(QLatin1Char('/'), 1));
        QDir().mkpath(QFileInfo(local).absolutePath());
        QFile file(local);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (;;) {
            uint32_t n = 0;
            char code = 0;
            if (!readBe32(socket, n) || n == 0 || !socket.readExact(&code, 1))
                return false;
            QByteArray data(int(n - 1), '\0');
            if (n > 1 && !socket.readExact(data.data(), n - 1))
                return false;
            if (code == codeFileData) {
                file.write(data);
                continue;
            }
            if (code == codeErrorLocal) {
                file.close();
                file.remove();
                missing << path;
            }
            break;
        }
    }
    int64_t code = -1;
    return readStatus(socket, code); // 0, or -13 "Multi status" with the missing files
}

// The records of the host's last whole backup of this phone, which the phone reads to send only
// what changed; empty when there is none.
ManifestMap previousRecords(SimSocket& socket, const QString& udid, const QString& manifestName, bool& ok)
{
    ok = true;
    const QStringList present = listDirectory(socket, udid);
    if (!present.contains(QStringLiteral("Status.plist")) || !present.contains(manifestName))
        return {};
    QTemporaryDir received;
    QStringList missing;
    // One file per request: the host stops at the first one it lacks.
    for (const QString& name :
         {QStringLiteral("Status.plist"), QStringLiteral("Manifest.plist"), manifestName}) {
        if (!downloadFiles(socket, {udid + QLatin1Char('/') + name}, QDir(received.path()), 0, missing)) {
            ok = false;
            return {};
        }
    }
    plist_t status =
        readPlistFile(QDir(received.path()).filePath(QStringLiteral("Status.plist")).toStdString());
    const bool finished = status && plistDictString(status, "SnapshotState") == "finished";
    if (status)
        plist_free(status);
    // An encrypted one opens with the phone's own password.
    SimBackupReader manifest;
    if (!missing.isEmpty() || !finished ||
        !manifest.open(QDir(received.path()), simBackupPassword(socket.device())).isEmpty())
        return {};
    return manifest.records();
}

// A request the host did not carry out ends the backup with an error, unless the phone is gone.
void hostFailed(SimSocket& socket)
{
    if (socket.device().exists())
        finish(socket, 1, QStringLiteral("The computer could not store the backup (MBErrorDomain/1)"));
}

// A file under another key (a backup from before encryption was turned on, or with another key
// bag) is sent again: the host's copy would not decrypt with the new one.
bool sameRecord(const MbdbRecord& a, const MbdbRecord& b)
{
    return a.size == b.size && a.modifiedTime == b.modifiedTime && a.mode == b.mode &&
           a.dataHash.bytes == b.dataHash.bytes && a.encryptionKey.bytes == b.encryptionKey.bytes;
}

// As phones do (libimobiledevice issues 366, 1135, 1544, 1685): the phone reads the manifest of the
// host's last backup, writes what changed into "Snapshot" inside the backup folder, moves it into
// place at the end, removes what it no longer has, and last writes a Status.plist that says
// "finished". Up to iOS 9 it also removes "Manifest.mbdx", which idevicebackup2 expects.
void backup(SimSocket& socket, plist_t request)
{
    const SimDevice& device = socket.device();
    const QString udid = QString::fromStdString(plistDictString(request, "TargetIdentifier"));
    const std::vector<std::string> failure = device.strings("BackupError");
    if (!failure.empty()) {
        finish(socket, 1, QString::fromStdString(failure.front()) + QStringLiteral(" (MBErrorDomain/1)"));
        return;
    }
    const SimRefusal refusal = simBackupRefusal(device);
    if (refusal.code) {
        finish(socket, uint64_t(refusal.code), refusal.text);
        return;
    }
    QTemporaryDir made;
    const QString problem = writeSimBackup(device, udid, QDir(made.path()));
    if (!problem.isEmpty()) {
        finish(socket, 1, problem + QStringLiteral(" (MBErrorDomain/1)"));
        return;
    }
    const QDir root(made.path());
    SimBackupReader manifest;
    if (const QString unreadable = manifest.open(root, simBackupPassword(device)); !unreadable.isEmpty()) {
        finish(socket, 1, unreadable + QStringLiteral(" (MBErrorDomain/1)"));
        return;
    }
    const QString manifestName = manifest.manifestName();
    const bool oldLayout = manifest.format() == BackupManifest::Format::Mbdb;

    bool ok = false;
    const ManifestMap previous = previousRecords(socket, udid, manifestName, ok);
    if (!ok)
        return hostFailed(socket);
    QStringList files;
    QStringList folders;
    quint64 total = 0;
    for (auto it = manifest.records().cbegin(); it != manifest.records().cend(); ++it) {
        if ((it.value().mode & 0170000) != 0100000)
            continue;
        total += it.value().size;
        auto before = previous.constFind(it.key());
        if (before != previous.cend() && sameRecord(before.value(), it.value()))
            continue;
        const QString relative = root.relativeFilePath(manifest.filePath(it.key()));
        files << relative;
        const QString folder = relative.section(QLatin1Char('/'), 0, -2);
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    files.sort();
    files << manifestName << QStringLiteral("Manifest.plist");
    QStringList gone;
    for (auto it = previous.cbegin(); it != previous.cend(); ++it) {
        if (!manifest.records().contains(it.key()) && (it.value().mode & 0170000) == 0100000)
            gone << udid + QLatin1Char('/') +
                        root.relativeFilePath(
                            BackupManifest::backupFilePath(root, it.key(), manifest.format()));
    }

    uint64_t freeBytes = 0;
    int64_t code = -1;
    if (!sendMessage(socket, dlMessage("DLMessageGetFreeDiskSpace")) || !readStatus(socket, code, &freeBytes))
        return hostFailed(socket);
    if (code != 0 || freeBytes < total) {
        finish(socket, 105,
               QStringLiteral("Insufficient free disk space on drive to back up (MBErrorDomain/105)"));
        return;
    }
    const QString snapshot = udid + QStringLiteral("/Snapshot");
    if (!simpleRequest(socket, "DLMessageCreateDirectory", udid) ||
        !simpleRequest(socket, "DLMessageCreateDirectory", snapshot))
        return hostFailed(socket);
    // The folders of the files, in the snapshot and where they are moved to.
    for (const QString& folder : folders) {
        if (!simpleRequest(socket, "DLMessageCreateDirectory", snapshot + QLatin1Char('/') + folder) ||
            !simpleRequest(socket, "DLMessageCreateDirectory", udid + QLatin1Char('/') + folder))
            return hostFailed(socket);
    }
    // Until the backup is whole its status says so, on the computer as on the phone.
    QByteArray unfinished;
    {
        plist_t status = plist_new_dict();
        plist_dict_set_item(status, "SnapshotState", plist_new_string("uncommitted"));
        plist_dict_set_item(status, "Version", plist_new_string("2.4"));
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(status, &xml, &length);
        unfinished = QByteArray(xml, int(length));
        std::free(xml);
        plist_free(status);
    }
    if (!uploadFiles(socket, {{udid + QStringLiteral("/Status.plist"), QString(), unfinished}}, 1, total))
        return hostFailed(socket);
    constexpr int batch = 64;
    const int batches = int((files.size() + batch - 1) / batch);
    QMap<QString, QString> moves;
    for (int b = 0; b < batches; ++b) {
        QList<Upload> uploads;
        for (int i = b * batch; i < files.size() && i < (b + 1) * batch; ++i) {
            uploads.append({snapshot + QLatin1Char('/') + files.at(i), root.filePath(files.at(i)), {}});
            moves.insert(snapshot + QLatin1Char('/') + files.at(i), udid + QLatin1Char('/') + files.at(i));
        }
        pace(device, batches + 1);
        if (!device.exists() || !uploadFiles(socket, uploads, 1 + 96.0 * (b + 1) / batches, total))
            return hostFailed(socket);
    }
    if (oldLayout)
        gone << udid + QStringLiteral("/Manifest.mbdx");
    if (!moveItems(socket, moves, 98) || !removeItems(socket, gone << snapshot, 99))
        return hostFailed(socket);
    if (!uploadFiles(
            socket,
            {{udid + QStringLiteral("/Status.plist"), root.filePath(QStringLiteral("Status.plist")), {}}},
            100, total))
        return hostFailed(socket);
    finish(socket, 0);
}

// Returns true when the phone is to restart once the host has hung up.
bool restore(SimSocket& socket, plist_t request)
{
    const SimDevice& device = socket.device();
    plist_t options = plist_dict_get_item(request, "Options");
    auto option = [options](const char* key, bool fallback) {
        plist_t node = options ? plist_dict_get_item(options, key) : nullptr;
        uint8_t value = fallback ? 1 : 0;
        if (node && plist_get_node_type(node) == PLIST_BOOLEAN)
            plist_get_bool_val(node, &value);
        return value != 0;
    };
    SimRestoreOptions restoreOptions;
    restoreOptions.removeNotRestored = option("RemoveItemsNotRestored", false);
    restoreOptions.systemFiles = option("RestoreSystemFiles", false);
    restoreOptions.atRestart = true;
    const bool reboot = option("RestoreShouldReboot", true);
    const std::string password = options ? plistDictString(options, "Password") : std::string();
    std::string source = plistDictString(request, "SourceIdentifier");
    if (source.empty())
        source = plistDictString(request, "TargetIdentifier");
    const QString from = QString::fromStdString(source);

    if (device.flag("FindMyIPhone")) {
        finish(socket, 211,
               QStringLiteral("Find My iPhone must be disabled before restoring (MBErrorDomain/211)"));
        return false;
    }
    QTemporaryDir received;
    const QDir into(received.path());
    QStringList missing;
    // The host stops sending at the first file it lacks (mb2_handle_send_files): each manifest
    // format is asked for on its own.
    if (!downloadFiles(socket,
                       {from + QStringLiteral("/Status.plist"), from + QStringLiteral("/Manifest.plist")},
                       into, 1, missing) ||
        !downloadFiles(socket, {from + QStringLiteral("/Manifest.db")}, into, 1, missing))
        return false;
    if (!missing.isEmpty() &&
        !downloadFiles(socket, {from + QStringLiteral("/Manifest.mbdb")}, into, 1, missing))
        return false;
    // A wrong or missing password for an encrypted backup, as phones answer it (libimobiledevice
    // issue 1155).
    restoreOptions.password = QByteArray::fromStdString(password);
    SimBackupReader backup;
    const QString unreadable = backup.open(into, restoreOptions.password);
    if (backup.wrongPassword()) {
        finish(socket, 207,
               QStringLiteral("Invalid password when restoring encrypted backup (MBErrorDomain/207)"));
        return false;
    }
    if (!unreadable.isEmpty()) {
        finish(socket, 1, unreadable + QStringLiteral(" (MBErrorDomain/1)"));
        return false;
    }
    qint64 required = 0;
    QStringList files;
    for (auto it = backup.records().cbegin(); it != backup.records().cend(); ++it) {
        required += qint64(it.value().size);
        if ((it.value().mode & 0170000) == 0100000)
            files << from + QLatin1Char('/') + into.relativeFilePath(backup.filePath(it.key()));
    }
    const long long freeBytes = simRestoreRoom(device);
    if (freeBytes >= 0 && freeBytes < required) {
        finish(
            socket, 105,
            QStringLiteral("Insufficient free disk space on device to restore (%1 < %2) (MBErrorDomain/105)")
                .arg(freeBytes)
                .arg(required));
        return false;
    }
    constexpr int batch = 64;
    const int batches = int((files.size() + batch - 1) / batch);
    QStringList lacking;
    for (int b = 0; b < batches; ++b) {
        pace(device, batches + 1);
        if (!device.exists() ||
            !downloadFiles(socket, files.mid(b * batch, batch), into, 1 + 98.0 * (b + 1) / batches, lacking))
            return false;
    }
    // A file the manifest lists and the host cannot send ends the restore before anything changes
    // (libimobiledevice issue 1570; the text phones give, from Netimobiledevice issue 68).
    if (!lacking.isEmpty()) {
        finish(socket, 205, QStringLiteral("Manifest references files not in backup (MBErrorDomain/205)"));
        return false;
    }
    const QString problem =
        restoreSimBackup(device, into, restoreOptions, [&device] { return !device.exists(); });
    if (!problem.isEmpty()) {
        finish(socket, 1, problem + QStringLiteral(" (MBErrorDomain/1)"));
        return false;
    }
    // The phone restarts as soon as the host hangs up; its files are in place by then.
    if (reboot && !simRestartPhone(device)) {
        finish(socket, 1, QStringLiteral("cannot put the restored files in place (MBErrorDomain/1)"));
        return false;
    }
    return finish(socket, 0) && reboot;
}

void mobileBackup(SimSocket& socket)
{
    plist_t hello = dlMessage("DLMessageVersionExchange");
    plist_array_append_item(hello, plist_new_uint(300));
    plist_array_append_item(hello, plist_new_uint(0));
    if (!sendMessage(socket, hello))
        return;
    plist_t answer = socket.readMessage();
    const bool agreed = messageName(answer) == "DLMessageVersionExchange" &&
                        plist_array_get_size(answer) >= 2 &&
                        plistString(plist_array_get_item(answer, 1)) == "DLVersionsOk";
    if (answer)
        plist_free(answer);
    if (!agreed || !sendMessage(socket, dlMessage("DLMessageDeviceReady")))
        return;
    bool restartAfterwards = false;
    while (plist_t message = socket.readMessage()) {
        const std::string name = messageName(message);
        plist_t request = plist_array_get_size(message) >= 2 ? plist_array_get_item(message, 1) : nullptr;
        const std::string request_name = request && plist_get_node_type(request) == PLIST_DICT
                                             ? plistDictString(request, "MessageName")
                                             : "";
        if (name == "DLMessageDisconnect") {
            plist_free(message);
            break;
        }
        if (name == "DLMessageProcessMessage" && request_name == "Hello") {
            plist_t reply = plist_new_dict();
            plist_dict_set_item(reply, "MessageName", plist_new_string("Response"));
            plist_dict_set_item(reply, "ErrorCode", plist_new_uint(0));
            plist_dict_set_item(reply, "ProtocolVersion", plist_new_real(2.1));
            plist_t response = dlMessage("DLMessageProcessMessage");
            plist_array_append_item(response, reply);
            sendMessage(socket, response);
        } else if (name == "DLMessageProcessMessage" && request_name == "Backup") {
            backup(socket, request);
        } else if (name == "DLMessageProcessMessage" && request_name == "Restore") {
            restartAfterwards = restore(socket, request);
        } else if (name == "DLMessageProcessMessage" && request_name == "ChangePassword") {
            const SimRefusal refusal = simChangePassword(
                socket.device(), QByteArray::fromStdString(plistDictString(request, "OldPassword")),
                QByteArray::fromStdString(plistDictString(request, "NewPassword")));
            finish(socket, uint64_t(refusal.code), refusal.text);
        } else if (name == "DLMessageProcessMessage") {
            finish(socket, 1, QStringLiteral("Unsupported request (MBErrorDomain/1)"));
        }
        plist_free(message);
    }
    if (restartAfterwards)
        socket.device().setNumber("RebootingUntilMs", QDateTime::currentMSecsSinceEpoch() + 1500);
}

// Observed notifications are remembered and posted ones taken in. The phone's passcode prompt
// before a backup (its switch "PasscodePromptShown", see simBackupRefusal) is relayed to those
// who observe "com.apple.LocalAuthentication.ui.presented" and "...ui.dismissed", as
// ["RelayNotification", Name] (libimobiledevice src/notification_proxy.c). "Shutdown" is
// answered with "ProxyDeath", which np_client_free waits for.
void notificationProxy(SimSocket& socket)
{
    std::set<std::string> observed;
    bool shown = false;
    for (;;) {
        pollfd ready{socket.fd(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, 100);
        if (polled < 0)
            return;
        if (polled > 0) {
            plist_t message = socket.readMessage();
            if (!message)
                return;
            const std::string command = plistDictString(message, "Command");
            const std::string name = plistDictString(message, "Name");
            plist_free(message);
            if (command == "ObserveNotification")
                observed.insert(name);
            if (command == "Shutdown") {
                plist_t death = plist_new_dict();
                plist_dict_set_item(death, "Command", plist_new_string("ProxyDeath"));
                sendMessage(socket, death);
                return;
            }
        }
        const bool nowShown = socket.device().flag("PasscodePromptShown");
        if (nowShown == shown)
            continue;
        shown = nowShown;
        const char* name = shown ? "com.apple.LocalAuthentication.ui.presented"
                                 : "com.apple.LocalAuthentication.ui.dismissed";
        if (!observed.count(name))
            continue;
        plist_t relay = plist_new_dict();
        plist_dict_set_item(relay, "Command", plist_new_string("RelayNotification"));
        plist_dict_set_item(relay, "Name", plist_new_string(name));
        if (!sendMessage(socket, relay))
            return;
    }
}

// "getIconPNGData" answers with the app's icon from its container.
void springboardServices(SimSocket& socket)
{
    while (plist_t message = socket.readMessage()) {
        const std::string command = plistDictString(message, "command");
        const std::string bundle = plistDictString(message, "bundleId");
        plist_free(message);
        plist_t reply = plist_new_dict();
        if (command == "getIconPNGData" && bundle.find('/') == std::string::npos) {
            QFile icon(
                QString::fromStdString(socket.device().folder + "/containers/" + bundle + "/iTunesArtwork"));
            const QByteArray png = icon.open(QIODevice::ReadOnly) ? icon.readAll() : QByteArray();
            plist_dict_set_item(reply, "pngData", plist_new_data(png.constData(), uint64_t(png.size())));
        }
        if (!sendMessage(socket, reply))
            return;
    }
}

} // namespace

void registerEmulatedBackupServices()
{
    registerSimService("com.apple.mobilebackup2", mobileBackup);
    registerSimService("com.apple.mobile.notification_proxy", notificationProxy);
    registerSimService("com.apple.springboardservices", springboardServices);
}
